#pragma once
// The server's "patches\list": lines "from to url" naming update packages by the
// version pair they lead across.

#include <cstddef>
#include <cstdint>
#include <string>

// Longest URL a line may carry; a longer one is ignored with its line.
inline constexpr std::size_t kMaxPackageUrlLength = 259;

// The package URL for a client at clientVersion when the server is at serverVersion,
// empty when none fits; *from and *to receive the chosen line's pair (-1 when none).
// A line from clientVersion to serverVersion wins at once; otherwise the greatest
// from-version not above the client's, and with it the greatest to-version. The text
// ends at its first zero byte.
std::u16string ChoosePatchPackage(const uint8_t* text, std::size_t size, int32_t clientVersion, int32_t serverVersion,
                                  int32_t* from, int32_t* to);
