#include "net/client_path.h"

#include "archive/archive_names.h"

bool IsSafeClientPath(std::u16string_view path) {
  if (path.empty() || path.front() == u'\\' || path.front() == u'/') return false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size()) {
      const char16_t c = path[i];
      if (c == u'\0' || c == u':') return false;
      if (c != u'\\' && c != u'/') continue;
    }
    const std::u16string_view component = path.substr(start, i - start);
    if (component == u"." || component == u"..") return false;
    start = i + 1;
  }
  return true;
}

bool BelongsToArchive(std::u16string_view path, std::u16string_view archiveName) {
  return path.substr(0, archiveName.size()) == archiveName;
}

bool IsArchivePath(std::u16string_view path) {
  for (std::u16string_view name : kArchiveNames)
    if (BelongsToArchive(path, name)) return true;
  return false;
}
