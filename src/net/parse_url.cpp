#include "net/parse_url.h"

UrlParts ParseUrl(const std::u16string& url) {
  UrlParts parts;
  const std::size_t end = url.size();
  std::size_t q = url.find(u'?');
  if (q == std::u16string::npos) q = end;

  // Everything from the first "?" on is the query: a "://" there ("a?b://c/d") is no
  // scheme, so that no two parts ever share a character.
  std::size_t hostStart = 0;
  const std::size_t colon = url.find(u':');
  if (colon < q && end - colon > 3 && url.compare(colon, 3, u"://") == 0) {
    parts.scheme = url.substr(0, colon);
    hostStart = colon + 3;
  }

  std::size_t s = url.find(u'/', hostStart);
  // A "/" inside the query belongs to the query.
  const bool hasSlash = s < q;
  if (!hasSlash) s = end;
  // Without a "/" a query may follow the host directly; the host never reaches past it.
  const std::size_t hostEnd = hasSlash ? s : q;
  const std::size_t portColon = url.find(u':', hostStart);
  if (portColon < hostEnd) {
    parts.host = url.substr(hostStart, portColon - hostStart);
    parts.port = url.substr(portColon + 1, hostEnd - portColon - 1);
  } else {
    parts.host = url.substr(hostStart, hostEnd - hostStart);
  }
  if (hasSlash) parts.path = url.substr(s, q - s);
  if (q != end) parts.query = url.substr(q);
  return parts;
}
