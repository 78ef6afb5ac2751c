#include "ui/text_layout.h"

namespace Ormel {

TextBox LayoutText(uint32_t alignment, int x, int y, int width, int height, const TextRect& textRect,
                   TextSize measured) {
  const float left = static_cast<float>(x);
  const float top = static_cast<float>(y);
  if (textRect.isSet()) return {left + textRect.x, top + textRect.y, textRect.width, textRect.height};

  TextBox box{left, top, measured.width, measured.height};
  const float spareHeight = static_cast<float>(height) - measured.height;
  const float spareWidth = static_cast<float>(width) - measured.width;
  if (alignment & kAlignMiddle) {
    box.y += spareHeight * 0.5f;
  } else if (alignment & kAlignBottom) {
    box.y += spareHeight;
  }
  if (alignment & kAlignCenter) {
    box.x += spareWidth * 0.5f;
  } else if (alignment & kAlignRight) {
    box.x += spareWidth;
  }
  return box;
}

}  // namespace Ormel
