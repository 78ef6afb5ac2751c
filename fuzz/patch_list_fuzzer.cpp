// Parses untrusted bytes as "patches\list" and splits the chosen URL; publish's reading of
// the same bytes must choose the same line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "formats/patch_list.h"
#include "net/parse_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The first 8 bytes choose the versions, the rest is the list.
  int32_t versions[2] = {17, 20};
  if (size >= 8) {
    std::memcpy(versions, data, 8);
    data += 8;
    size -= 8;
  }
  int32_t from = 0;
  int32_t to = 0;
  const std::u16string url = ChoosePatchPackage(data, size, versions[0], versions[1], &from, &to);
  if (url.empty() != (from == -1 && to == -1)) std::abort();
  if (url.size() > kMaxPackageUrlLength || (!url.empty() && from > versions[0])) std::abort();
  // A chosen package always takes the client further: anything else would loop forever.
  if (!url.empty() && to <= versions[0]) std::abort();
  const UrlParts parts = ParseUrl(url);
  if (parts.host.size() + parts.path.size() + parts.query.size() > url.size()) std::abort();

  const std::vector<PatchLine> lines = ParsePatchList(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<PatchPair> pairs;
  for (const PatchLine& line : lines) pairs.push_back({line.from, line.to});
  const std::optional<std::size_t> chosen = ChoosePatchLine(pairs, versions[0], versions[1]);
  if (chosen.has_value() == url.empty()) std::abort();
  if (chosen) {
    const PatchLine& line = lines[*chosen];
    std::u16string wide;
    for (char c : line.url) wide.push_back(static_cast<unsigned char>(c));
    if (line.from != from || line.to != to || wide != url) std::abort();
  }
  // What publish writes back reads as the same lines.
  if (ParsePatchList(FormatPatchList(lines)) != lines) std::abort();
  return 0;
}
