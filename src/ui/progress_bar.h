#pragma once
// Ormel::ProgressBar: a bar picture, a fill picture squeezed to the done part, and a text made
// from a format that receives the whole percentage ("%d%%").

#include <optional>
#include <string>
#include <string_view>

#include "ui/control.h"

namespace Ormel {

class ProgressBar : public Control {
 public:
  using Control::Control;

  // A bar shows Normal or Disabled only.
  void SetState(int state) override;
  void Draw(Canvas& canvas) const override;

  // Clamped to [0, 1]; the filled width and the text follow.
  void SetProgress(double progress);
  // The text format, expanded at once with the current whole percentage.
  void SetText(std::u16string_view format);

  double progress() const;
  int filledWidth() const;

 private:
  // Guarded by the form's lock.
  double progress_ = 0;
  std::optional<std::u16string> format_;
  int filledWidth_ = 0;
};

}  // namespace Ormel
