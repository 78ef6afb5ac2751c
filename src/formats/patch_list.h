#pragma once
// The server's "patches\list": lines "from to url" naming update packages by the
// version pair they lead across, separated by line feeds. The updater reads it to choose a
// package; publish writes it and judges which lines can still help a client.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Longest URL a line may carry; a longer one is ignored with its line.
inline constexpr std::size_t kMaxPackageUrlLength = 259;

// The version pair of one line, in list order.
struct PatchPair {
  int32_t from = 0;
  int32_t to = 0;
};

// The useful lines of a list, read as the updater reads them: the text ends at its first
// zero byte; a line is read by the pattern "%d %d %[^\r]", and one that does not yield all
// three fields, has a number beyond 32 bits or a URL longer than kMaxPackageUrlLength is
// left out. The URLs point into the text.
class PatchListLines {
 public:
  PatchListLines(const uint8_t* text, std::size_t size);
  // The next useful line; false at the end of the text.
  bool Next(PatchPair* pair, std::string_view* url);

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

struct PatchLine {
  int32_t from = 0;
  int32_t to = 0;
  std::string url;

  bool operator==(const PatchLine&) const = default;
};

// Every useful line, in order.
std::vector<PatchLine> ParsePatchList(const std::string& text);
std::string FormatPatchList(const std::vector<PatchLine>& lines);

// Which line a client at clientVersion takes while the server is at serverVersion, as an
// index into `lines`; none when no line fits. A line from clientVersion to serverVersion
// wins at once (the first such line); otherwise the greatest from-version not above the
// client's, and with it the greatest to-version (a later line of the same pair replaces an
// earlier one). A line whose to-version is not above the client's is never taken: applying
// it would leave the client where it was, and the update would start over forever. Nor is
// one whose to-version is above the server's: the client would record a release the server
// does not offer.
std::optional<std::size_t> ChoosePatchLine(const std::vector<PatchPair>& lines, int32_t clientVersion,
                                           int32_t serverVersion);

// Whether some client could be given lines[line] while the server is at serverVersion or
// any later version (a list only ever gains lines to newer releases).
bool PatchLineCanHelp(const std::vector<PatchPair>& lines, std::size_t line, int32_t serverVersion);
bool PatchLineCanHelp(const std::vector<PatchLine>& lines, std::size_t line, int32_t serverVersion);

// The package URL for a client at clientVersion when the server is at serverVersion,
// empty when none fits; *from and *to receive the chosen line's pair (-1 when none). The
// choice is ChoosePatchLine's; the text ends at its first zero byte. `beyondServer`, when
// given, counts the lines the client could start from that lead beyond the server's version.
std::u16string ChoosePatchPackage(const uint8_t* text, std::size_t size, int32_t clientVersion, int32_t serverVersion,
                                  int32_t* from, int32_t* to, std::size_t* beyondServer = nullptr);
