#pragma once
// A skin file read into plain values, checked before anything is built from it: a skin that
// lacks a required attribute or whose numbers are out of bounds is refused whole.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/control.h"

namespace Ormel {

// Bounds that keep a hostile skin from sizing huge windows or allocations.
inline constexpr int kMaxSkinDimension = 16384;
inline constexpr std::size_t kMaxSkinControls = 4096;
inline constexpr std::size_t kMaxSkinFileBytes = 1 << 20;
inline constexpr int kMaxFontSize = 1024;

enum class SkinControlKind { kButton, kLabel, kBrowser, kProgressBar };

struct SkinControl {
  SkinControlKind kind = SkinControlKind::kButton;
  std::optional<std::string> name;
  std::optional<std::u16string> text;
  std::optional<int> x, y;
  // Buttons: the mouse rectangle relative to (x, y).
  int rectX = 0, rectY = 0, rectW = -1, rectH = -1;
  // Labels and browsers.
  std::optional<int> width, height;
  std::optional<int> fontSize;
  std::optional<std::string> url;
  uint32_t alignment = 0;
  std::optional<uint32_t> fontColor;
  std::optional<bool> fontShadow;
  // Picture files by slot; a later "Image" for a slot replaces an earlier one.
  std::array<std::optional<std::u16string>, kPictureSlots> images;
};

struct SkinDocument {
  std::u16string background;
  // In build order: buttons, labels, browsers, progress bars, each kind in document order.
  std::vector<SkinControl> controls;
};

enum class SkinParseResult {
  kOk,
  kMalformed,  // not XML
  kNoWindow,   // no top-level "Window"
  kInvalid,    // a required attribute missing or a number out of bounds
};

SkinParseResult ParseSkin(std::string_view xml, SkinDocument* document);

}  // namespace Ormel
