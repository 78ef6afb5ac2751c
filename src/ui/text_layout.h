#pragma once
// Where a control's text goes: alignment bits over the control's box, or a fixed text box.

#include <cstdint>

#include "ui/canvas.h"

namespace Ormel {

// Alignment bits of a control's text.
inline constexpr uint32_t kAlignLeft = 1;
inline constexpr uint32_t kAlignCenter = 2;
inline constexpr uint32_t kAlignRight = 4;
inline constexpr uint32_t kAlignTop = 8;
inline constexpr uint32_t kAlignMiddle = 16;
inline constexpr uint32_t kAlignBottom = 32;

// A fixed text box relative to the control's point; unused while its width or height is -1.
struct TextRect {
  float x = -1;
  float y = -1;
  float width = -1;
  float height = -1;

  bool isSet() const { return width != -1 && height != -1; }
  bool operator==(const TextRect&) const = default;
};

// The box a text of `measured` size is drawn in, for a control at (x, y) with a box of
// width x height. A set text rectangle wins and ignores the alignment. Otherwise the text
// starts at (x, y) and the bits move it: middle and bottom vertically, centre and right
// horizontally, so a 0 x 0 label centres its text on its point.
TextBox LayoutText(uint32_t alignment, int x, int y, int width, int height, const TextRect& textRect,
                   TextSize measured);

}  // namespace Ormel
