#include "ui/progress_bar.h"

#include "base/text_format.h"
#include "ui/form.h"

namespace Ormel {
namespace {

std::u16string Expand(const std::u16string& format, double progress) {
  return FormatText(format, static_cast<int32_t>(progress * 100));
}

}  // namespace

void ProgressBar::SetState(int state) {
  {
    std::lock_guard lock(owner().mutex());
    const int next = disabledLocked() || state == kDisabled ? kDisabled : kNormal;
    if (next == stateLocked()) return;
    SetStateLocked(next);
  }
  owner().Redraw();
}

void ProgressBar::Draw(Canvas& canvas) const {
  // A bar is drawn whatever its visibility.
  DrawPictureOf(canvas, stateLocked());
  const Picture* fill = pictureLocked(kProgress);
  if (filledWidth_ != 0 && fill != nullptr && fill->loaded()) {
    if (filledWidth_ == widthLocked()) {
      canvas.DrawPicture(*fill, xLocked(), yLocked());
    } else {
      canvas.DrawPictureScaled(*fill, xLocked(), yLocked(), filledWidth_, heightLocked());
    }
  }
  DrawText(canvas);
}

void ProgressBar::SetProgress(double progress) {
  if (!(progress > 0)) progress = 0;  // also NaN
  if (progress > 1) progress = 1;
  {
    std::lock_guard lock(owner().mutex());
    if (progress == progress_) return;
    progress_ = progress;
    filledWidth_ = static_cast<int>(widthLocked() * progress);
    if (format_) StoreTextLocked(Expand(*format_, progress_));
  }
  owner().Redraw();
}

void ProgressBar::SetText(std::u16string_view format) {
  {
    std::lock_guard lock(owner().mutex());
    if (format_ && *format_ == format) return;
    format_ = std::u16string(format);
    StoreTextLocked(Expand(*format_, progress_));
  }
  owner().Redraw();
}

double ProgressBar::progress() const {
  std::lock_guard lock(owner().mutex());
  return progress_;
}

int ProgressBar::filledWidth() const {
  std::lock_guard lock(owner().mutex());
  return filledWidth_;
}

}  // namespace Ormel
