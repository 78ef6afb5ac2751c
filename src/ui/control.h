#pragma once
// Ormel::Control: a picture per state plus an optional text, placed at a point of its form and
// drawn into the form's single picture. Controls are built by the skin loader; the program's
// forms find them by name and change their text, state, visibility and click handler.
//
// Changes may come from any thread: each takes the form's lock, so a composition running on
// another thread never sees a half-made change, then asks the form to redraw.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ui/canvas.h"
#include "ui/text_layout.h"

namespace Ormel {

class Form;

// States; kProgress only names the progress picture of a bar.
inline constexpr int kNormal = 0;
inline constexpr int kFocused = 1;
inline constexpr int kClicked = 2;
inline constexpr int kDisabled = 3;
inline constexpr int kProgress = 4;
inline constexpr int kPictureSlots = 5;

inline constexpr uint32_t kWhite = 0xFFFFFFFF;
inline constexpr uint32_t kShadowColor = 0x80000000;
inline constexpr float kDefaultFontSize = 14;

// Left and top inclusive, right and bottom exclusive.
struct HitRect {
  int left = -1;
  int top = -1;
  int right = -1;
  int bottom = -1;

  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const HitRect&) const = default;
};

class Control {
 public:
  using ClickHandler = std::function<void(Control& control, int button, int x, int y)>;

  // Joins the form's control list, above every control already there.
  explicit Control(Form& owner);
  // Leaves the form's list.
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Drawing, with the form's lock held by the composition.
  virtual void DrawText(Canvas& canvas) const;
  virtual void Draw(Canvas& canvas) const;

  // A disabled control takes any state other than its current one as Disabled.
  virtual void SetState(int state);
  // The form moved; controls with a window of their own follow it.
  virtual void OnFormMoved() {}
  virtual void OnMouseDown(int /*button*/, int /*x*/, int /*y*/) {}
  virtual void OnMouseUp(int /*button*/, int /*x*/, int /*y*/) {}
  virtual void OnMouseMove(int /*x*/, int /*y*/) {}
  // Calls the click handler, if one is set.
  virtual void OnClick(int button, int x, int y);

  // Both redraw the form when something changed.
  void SetText(std::u16string_view text);
  // Changes the text without redrawing (the caller redraws later); true when it changed.
  bool StoreText(std::u16string_view text);
  void SetPosition(int x, int y);

  // Set-up by the skin loader and the forms; these do not redraw by themselves.
  // A picture for the Normal slot also gives the control its size.
  void SetPicture(int slot, std::unique_ptr<Picture> picture);
  void SetFont(std::unique_ptr<Font> font);
  void SetTextColor(uint32_t argb);
  void SetShadow(bool shadow);
  void SetAlignment(uint32_t alignment);
  // The mouse rectangle relative to the control's point; width and height both -1 select the
  // picture box.
  void SetHitArea(int offsetX, int offsetY, int width, int height);
  void SetTextRect(const TextRect& rect);
  void SetVisible(bool visible);
  void SetDisabled(bool disabled);
  void SetClickHandler(ClickHandler handler);
  // Hit priority: the greatest wins; below 0 never hit.
  void SetZ(int z);

  Form& owner() const { return owner_; }
  std::u16string text() const;
  int state() const;
  int x() const;
  int y() const;
  int width() const;
  int height() const;
  bool visible() const;
  bool disabled() const;
  int z() const;
  HitRect hitRect() const;
  uint32_t alignment() const;
  uint32_t textColor() const;
  bool shadow() const;
  TextRect textRect() const;
  float fontSize() const;
  const Picture* picture(int slot) const;

 protected:
  // The fields below are guarded by the form's lock.
  void DrawPictureOf(Canvas& canvas, int slot) const;
  void SetBoxLocked(int x, int y, int width, int height);
  void UpdateHitRectLocked();
  void StoreTextLocked(std::u16string text) { text_ = std::move(text); }
  const std::u16string& textLocked() const { return text_; }
  int stateLocked() const { return state_; }
  void SetStateLocked(int state) { state_ = state; }
  bool disabledLocked() const { return disabled_; }
  bool visibleLocked() const { return visible_; }
  int xLocked() const { return x_; }
  int yLocked() const { return y_; }
  int widthLocked() const { return width_; }
  int heightLocked() const { return height_; }
  const Picture* pictureLocked(int slot) const;

 private:
  friend class Form;

  Form& owner_;
  std::array<std::unique_ptr<Picture>, kPictureSlots> pictures_;
  std::unique_ptr<Font> font_;
  uint32_t textColor_ = kWhite;
  std::u16string text_;
  uint32_t alignment_ = kAlignLeft;
  int x_ = 0;
  int y_ = 0;
  int width_ = 0;
  int height_ = 0;
  bool shadow_ = true;
  bool visible_ = true;
  bool disabled_ = false;
  int state_ = kNormal;
  int hitOffsetX_ = -1;
  int hitOffsetY_ = -1;
  int hitWidth_ = -1;
  int hitHeight_ = -1;
  HitRect hitRect_;
  TextRect textRect_;
  ClickHandler clickHandler_;
  int z_ = 0;
};

}  // namespace Ormel
