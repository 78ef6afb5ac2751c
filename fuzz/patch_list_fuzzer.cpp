// Parses untrusted bytes as "patches\list" and splits the chosen URL.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/parse_url.h"
#include "net/patch_list.h"

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
  return 0;
}
