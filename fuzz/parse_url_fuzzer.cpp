// Splits untrusted UTF-16 text as a URL: the parts are consecutive pieces of the text, so
// that put back together with their separators they give the text again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/parse_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::u16string url(size / 2, u'\0');
  for (std::size_t i = 0; i < url.size(); ++i) url[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  const UrlParts parts = ParseUrl(url);
  if (!parts.path.empty() && parts.path[0] != u'/') std::abort();
  if (!parts.query.empty() && parts.query[0] != u'?') std::abort();
  // Which separators stood between the parts is not kept: one of the four ways must fit.
  bool rebuilt = false;
  for (const bool schemeSeparator : {false, true}) {
    for (const bool portSeparator : {false, true}) {
      if ((!parts.scheme.empty() && !schemeSeparator) || (!parts.port.empty() && !portSeparator)) continue;
      const std::u16string whole = parts.scheme + (schemeSeparator ? u"://" : u"") + parts.host +
                                   (portSeparator ? u":" : u"") + parts.port + parts.path + parts.query;
      rebuilt = rebuilt || whole == url;
    }
  }
  if (!rebuilt) std::abort();
  return 0;
}
