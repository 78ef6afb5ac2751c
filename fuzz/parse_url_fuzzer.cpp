// Splits untrusted UTF-16 text as a URL: the parts never reach past the text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/parse_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::u16string url(size / 2, u'\0');
  for (std::size_t i = 0; i < url.size(); ++i) url[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  const UrlParts parts = ParseUrl(url);
  const std::size_t total =
      parts.scheme.size() + parts.host.size() + parts.port.size() + parts.path.size() + parts.query.size();
  if (total > url.size()) std::abort();
  if (!parts.path.empty() && parts.path[0] != u'/') std::abort();
  if (!parts.query.empty() && parts.query[0] != u'?') std::abort();
  return 0;
}
