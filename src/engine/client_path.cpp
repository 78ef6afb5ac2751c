#include "engine/client_path.h"

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"

namespace {

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// Case folded the way a case-blind file system may compare names: A-Z, the letters whose
// capital form is an ASCII letter (long s, dotless i, Kelvin sign), and the capitals of
// the Latin, Greek and Cyrillic alphabets and of full-width Latin.
char16_t Folded(char16_t c) {
  const auto plus = [c](int offset) { return static_cast<char16_t>(c + offset); };
  if (c >= u'A' && c <= u'Z') return plus(u'a' - u'A');
  switch (c) {
    case u'\u017F':
      return u's';
    case u'\u0131':
      return u'i';
    case u'\u212A':
      return u'k';
    case u'\u0178':
      return u'\u00FF';
    case u'\u0386':
      return u'\u03AC';
    case u'\u038C':
      return u'\u03CC';
    default:
      break;
  }
  if ((c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) || (c >= 0x0391 && c <= 0x03AB && c != 0x03A2) ||
      (c >= 0x0410 && c <= 0x042F) || (c >= 0xFF21 && c <= 0xFF3A))
    return plus(0x20);
  if (c >= 0x0400 && c <= 0x040F) return plus(0x50);
  if (c >= 0x0388 && c <= 0x038A) return plus(0x25);
  if (c >= 0x038E && c <= 0x038F) return plus(0x3F);
  // Pairs of capital and small letter side by side: the capital first at an even or at
  // an odd code.
  const bool evenCapital = (c >= 0x0100 && c <= 0x0137) || (c >= 0x014A && c <= 0x0177) ||
                           (c >= 0x0460 && c <= 0x0481) || (c >= 0x048A && c <= 0x04BF) || (c >= 0x04D0 && c <= 0x052F);
  const bool oddCapital = (c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E) || (c >= 0x04C1 && c <= 0x04CE);
  if ((evenCapital && c % 2 == 0) || (oddCapital && c % 2 == 1)) return plus(1);
  return c;
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

std::u16string ArchiveEntryName(std::u16string_view path) {
  std::u16string name(path);
  for (char16_t& c : name)
    if (c == u'/') c = u'\\';
  return name;
}

std::u16string TargetKey(std::u16string_view path) {
  // Archive entries are found by their lower-cased full name, plain files by the name as
  // a case-blind file system resolves it.
  if (ArchiveOfPath(path)) return u"archive:" + TavrinFilePackage::KeyOf(ArchiveEntryName(path));
  return u"file:" + ResolvedForm(path);
}
