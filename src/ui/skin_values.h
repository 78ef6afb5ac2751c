#pragma once
// How skin attribute values read: numbers, colours, alignment and picture state names.

#include <cstdint>
#include <optional>
#include <string_view>

namespace Ormel {

// Like the C library's atoi: leading blanks, an optional sign, digits up to the first other
// character, 0 without digits. Values beyond 32 bits saturate instead of wrapping, so a bounds
// check sees them.
int64_t SkinNumber(std::string_view text);

// "%i,%i,%i,%i": alpha, red, green, blue; each decimal, 0x-hexadecimal or 0-octal, each
// contributing its low 8 bits. Nothing when one of the four is missing.
std::optional<uint32_t> SkinColor(std::string_view text);

// "left" 1, "center" 2, "right" 4, anything else 0.
uint32_t HorizontalAlignment(std::string_view text);
// "top" 8, "middle" 16, "bottom" 32, anything else 0.
uint32_t VerticalAlignment(std::string_view text);

// "Normal" 0, "Focused" 1, "Clicked" 2, "Disabled" 3, "Progress" 4; any other name is Normal.
int PictureSlot(std::string_view name);

}  // namespace Ormel
