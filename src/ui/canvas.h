#pragma once
// What a composition draws with: pictures, fonts and a canvas. The Windows toolkit backs them
// with GDI+; tests record what a composition draws without a screen.

#include <cstdint>
#include <string_view>

namespace Ormel {

// A picture read from a file. One that failed to load is kept (its slot stays filled) but
// never drawn.
class Picture {
 public:
  virtual ~Picture() = default;
  virtual bool loaded() const = 0;
  // Pixels; 0 x 0 for a picture that failed to load.
  virtual int width() const = 0;
  virtual int height() const = 0;
};

// A text font of a pixel size. An unusable font (no family could be had) draws nothing.
class Font {
 public:
  virtual ~Font() = default;
  virtual float size() const = 0;
  virtual bool usable() const = 0;
};

struct TextBox {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;

  bool operator==(const TextBox&) const = default;
};

struct TextSize {
  float width = 0;
  float height = 0;
};

class Canvas {
 public:
  virtual ~Canvas() = default;
  // Unscaled, top-left corner at (x, y).
  virtual void DrawPicture(const Picture& picture, int x, int y) = 0;
  // Squeezed or stretched into the rectangle.
  virtual void DrawPictureScaled(const Picture& picture, int x, int y, int width, int height) = 0;
  // The size of the text laid out on one line per line break, without a width limit.
  virtual TextSize MeasureText(const Font& font, std::u16string_view text) = 0;
  // Laid out from the box's top-left corner; a box of 0 x 0 sets no limit, a larger one wraps.
  virtual void DrawText(const Font& font, std::u16string_view text, const TextBox& box, uint32_t argb) = 0;
};

}  // namespace Ormel
