#pragma once
// The server's "patches\list": lines "from to url" naming update packages by the
// version pair they lead across.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Longest URL a line may carry; a longer one is ignored with its line.
inline constexpr std::size_t kMaxPackageUrlLength = 259;

// The version pair of one line, in list order.
struct PatchPair {
  int32_t from = 0;
  int32_t to = 0;
};

// Which line a client at clientVersion takes while the server is at serverVersion, as an
// index into `lines`; none when no line fits. A line from clientVersion to serverVersion
// wins at once (the first such line); otherwise the greatest from-version not above the
// client's, and with it the greatest to-version (a later line of the same pair replaces an
// earlier one). A line whose to-version is not above the client's is never taken: applying
// it would leave the client where it was, and the update would start over forever.
std::optional<std::size_t> ChoosePatchLine(const std::vector<PatchPair>& lines, int32_t clientVersion,
                                           int32_t serverVersion);

// Whether some client could be given lines[line] while the server is at serverVersion or
// any later version (a list only ever gains lines to newer releases).
bool PatchLineCanHelp(const std::vector<PatchPair>& lines, std::size_t line, int32_t serverVersion);

// The package URL for a client at clientVersion when the server is at serverVersion,
// empty when none fits; *from and *to receive the chosen line's pair (-1 when none). The
// choice is ChoosePatchLine's; the text ends at its first zero byte.
std::u16string ChoosePatchPackage(const uint8_t* text, std::size_t size, int32_t clientVersion, int32_t serverVersion,
                                  int32_t* from, int32_t* to);
