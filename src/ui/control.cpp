#include "ui/control.h"

#include <algorithm>
#include <limits>

#include "ui/form.h"

namespace Ormel {
namespace {

int ClampToInt(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

Control::Control(Form& owner) : owner_(owner), font_(owner.backend().MakeFont(kDefaultFontSize)) {
  owner_.AddControl(this);
}

Control::~Control() {
  owner_.RemoveControl(this);
}

void Control::DrawText(Canvas& canvas) const {
  if (text_.empty() || font_ == nullptr || !font_->usable()) return;
  const TextSize measured = textRect_.isSet() ? TextSize{} : canvas.MeasureText(*font_, text_);
  TextBox box = LayoutText(alignment_, x_, y_, width_, height_, textRect_, measured);
  // A measured text is drawn from its corner without a limit: a box of exactly the measured
  // size could wrap its last letter on a rounding difference.
  if (!textRect_.isSet()) box.width = box.height = 0;
  if (shadow_) canvas.DrawText(*font_, text_, TextBox{box.x + 1, box.y + 1, box.width, box.height}, kShadowColor);
  canvas.DrawText(*font_, text_, box, textColor_);
}

void Control::Draw(Canvas& canvas) const {
  if (!visible_) return;
  DrawPictureOf(canvas, state_);
  DrawText(canvas);
}

void Control::DrawPictureOf(Canvas& canvas, int slot) const {
  const Picture* picture = pictureLocked(slot);
  if (picture != nullptr && picture->loaded()) canvas.DrawPicture(*picture, x_, y_);
}

void Control::SetState(int state) {
  {
    std::lock_guard lock(owner_.mutex());
    if (state == state_) return;
    const int next = disabled_ ? kDisabled : state;
    if (next == state_) return;
    state_ = next;
  }
  owner_.Redraw();
}

void Control::OnClick(int button, int x, int y) {
  ClickHandler handler;
  {
    std::lock_guard lock(owner_.mutex());
    handler = clickHandler_;
  }
  if (handler) handler(*this, button, x, y);
}

void Control::SetText(std::u16string_view text) {
  {
    std::lock_guard lock(owner_.mutex());
    if (text == text_) return;
    text_ = text;
  }
  owner_.Redraw();
}

bool Control::StoreText(std::u16string_view text) {
  std::lock_guard lock(owner_.mutex());
  if (text == text_) return false;
  text_ = text;
  return true;
}

void Control::SetPosition(int x, int y) {
  {
    std::lock_guard lock(owner_.mutex());
    if (x == x_ && y == y_) return;
    x_ = x;
    y_ = y;
    UpdateHitRectLocked();
  }
  owner_.Redraw();
}

void Control::UpdateHitRectLocked() {
  if (hitWidth_ == -1 && hitHeight_ == -1) {
    hitRect_ = {x_, y_, ClampToInt(int64_t{x_} + width_), ClampToInt(int64_t{y_} + height_)};
    return;
  }
  const int64_t left = int64_t{x_} + hitOffsetX_;
  const int64_t top = int64_t{y_} + hitOffsetY_;
  hitRect_ = {ClampToInt(left), ClampToInt(top), ClampToInt(left + hitWidth_), ClampToInt(top + hitHeight_)};
}

void Control::SetBoxLocked(int x, int y, int width, int height) {
  x_ = x;
  y_ = y;
  width_ = width;
  height_ = height;
}

void Control::SetPicture(int slot, std::unique_ptr<Picture> picture) {
  if (slot < 0 || slot >= kPictureSlots) return;
  std::lock_guard lock(owner_.mutex());
  if (slot == kNormal && picture != nullptr) {
    width_ = picture->width();
    height_ = picture->height();
    UpdateHitRectLocked();
  }
  pictures_[static_cast<std::size_t>(slot)] = std::move(picture);
}

void Control::SetFont(std::unique_ptr<Font> font) {
  std::lock_guard lock(owner_.mutex());
  font_ = std::move(font);
}

void Control::SetTextColor(uint32_t argb) {
  std::lock_guard lock(owner_.mutex());
  textColor_ = argb;
}

void Control::SetShadow(bool shadow) {
  std::lock_guard lock(owner_.mutex());
  shadow_ = shadow;
}

void Control::SetAlignment(uint32_t alignment) {
  std::lock_guard lock(owner_.mutex());
  alignment_ = alignment;
}

void Control::SetHitArea(int offsetX, int offsetY, int width, int height) {
  std::lock_guard lock(owner_.mutex());
  hitOffsetX_ = offsetX;
  hitOffsetY_ = offsetY;
  hitWidth_ = width;
  hitHeight_ = height;
  UpdateHitRectLocked();
}

void Control::SetTextRect(const TextRect& rect) {
  std::lock_guard lock(owner_.mutex());
  textRect_ = rect;
}

void Control::SetVisible(bool visible) {
  std::lock_guard lock(owner_.mutex());
  visible_ = visible;
}

void Control::SetDisabled(bool disabled) {
  std::lock_guard lock(owner_.mutex());
  disabled_ = disabled;
}

void Control::SetClickHandler(ClickHandler handler) {
  std::lock_guard lock(owner_.mutex());
  clickHandler_ = std::move(handler);
}

void Control::SetZ(int z) {
  std::lock_guard lock(owner_.mutex());
  z_ = z;
}

std::u16string Control::text() const {
  std::lock_guard lock(owner_.mutex());
  return text_;
}

#define ORMEL_LOCKED_GETTER(type, name, field) \
  type Control::name() const {                 \
    std::lock_guard lock(owner_.mutex());      \
    return field;                              \
  }
ORMEL_LOCKED_GETTER(int, state, state_)
ORMEL_LOCKED_GETTER(int, x, x_)
ORMEL_LOCKED_GETTER(int, y, y_)
ORMEL_LOCKED_GETTER(int, width, width_)
ORMEL_LOCKED_GETTER(int, height, height_)
ORMEL_LOCKED_GETTER(bool, visible, visible_)
ORMEL_LOCKED_GETTER(bool, disabled, disabled_)
ORMEL_LOCKED_GETTER(int, z, z_)
ORMEL_LOCKED_GETTER(HitRect, hitRect, hitRect_)
ORMEL_LOCKED_GETTER(uint32_t, alignment, alignment_)
ORMEL_LOCKED_GETTER(uint32_t, textColor, textColor_)
ORMEL_LOCKED_GETTER(bool, shadow, shadow_)
ORMEL_LOCKED_GETTER(TextRect, textRect, textRect_)
ORMEL_LOCKED_GETTER(float, fontSize, font_ != nullptr ? font_->size() : 0.0f)
#undef ORMEL_LOCKED_GETTER

const Picture* Control::picture(int slot) const {
  std::lock_guard lock(owner_.mutex());
  return pictureLocked(slot);
}

const Picture* Control::pictureLocked(int slot) const {
  if (slot < 0 || slot >= kPictureSlots) return nullptr;
  return pictures_[static_cast<std::size_t>(slot)].get();
}

}  // namespace Ormel
