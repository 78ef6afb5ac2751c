#include "support/local_path.h"

#include "platform/text.h"

namespace testsupport {

std::u16string LocalPath(const char* linuxPath) {
  std::u16string path = platform::Utf16FromUtf8(linuxPath);
#ifdef _WIN32
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  path = u"Z:" + path;
#endif
  return path;
}

}  // namespace testsupport
