#include "engine/client_path.h"

#include "archive/archive_names.h"

namespace {

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// Case folded the way a case-blind file system may compare names: A-Z, and the letters
// whose capital form is an ASCII letter (long s, dotless i, Kelvin sign).
char16_t Folded(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c - u'A' + u'a');
  switch (c) {
    case u'\u017F':
      return u's';
    case u'\u0131':
      return u'i';
    case u'\u212A':
      return u'k';
    default:
      return c;
  }
}

// The path as a file system could resolve it: folded, "\" between components, no empty
// components, and no trailing dots or spaces on any component.
std::u16string ResolvedForm(std::u16string_view path) {
  std::u16string resolved;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    std::u16string_view component = path.substr(start, i - start);
    start = i + 1;
    while (!component.empty() && (component.back() == u'.' || component.back() == u' ')) component.remove_suffix(1);
    if (component.empty()) continue;
    if (!resolved.empty()) resolved.push_back(u'\\');
    for (char16_t c : component) resolved.push_back(Folded(c));
  }
  return resolved;
}

}  // namespace

bool IsSafeClientPath(std::u16string_view path) {
  if (path.empty() || path.size() > kMaxClientPathLength || IsSeparator(path.front())) return false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size()) {
      const char16_t c = path[i];
      if (c == u'\0' || c == u':') return false;
      if (!IsSeparator(c)) continue;
    }
    const std::u16string_view component = path.substr(start, i - start);
    if (component == u"." || component == u"..") return false;
    start = i + 1;
  }
  return true;
}

bool NamesArchiveFile(std::u16string_view path) {
  const std::u16string resolved = ResolvedForm(path);
  for (std::u16string_view name : kArchiveNames) {
    if (resolved.size() != name.size() + 4 || resolved.compare(0, name.size(), name) != 0) continue;
    const std::u16string_view extension = std::u16string_view(resolved).substr(name.size());
    if (extension == u".pck" || extension == u".pkx") return true;
  }
  return false;
}

bool IsUsableClientPath(std::u16string_view path) {
  return IsSafeClientPath(path) && !NamesArchiveFile(path);
}

bool BelongsToArchive(std::u16string_view path, std::u16string_view archiveName) {
  if (path.size() < archiveName.size()) return false;
  for (std::size_t i = 0; i < archiveName.size(); ++i)
    if (path[i] != archiveName[i] && !(IsSeparator(path[i]) && IsSeparator(archiveName[i]))) return false;
  return true;
}

bool IsArchivePath(std::u16string_view path) {
  for (std::u16string_view name : kArchiveNames)
    if (BelongsToArchive(path, name)) return true;
  return false;
}

std::u16string ArchiveEntryName(std::u16string_view path) {
  std::u16string name(path);
  for (char16_t& c : name)
    if (c == u'/') c = u'\\';
  return name;
}
