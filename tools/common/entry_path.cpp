#include "common/entry_path.h"

#include <array>

#include "archive/tavrin_file_package.h"

namespace {

bool IsSeparator(char16_t unit) {
  return unit == u'\\' || unit == u'/';
}

// Windows opens these as devices whatever follows a dot ("nul.txt" too).
bool IsDeviceName(std::u16string_view component) {
  static constexpr std::array<std::u16string_view, 22> kDevices = {
      u"con",  u"prn",  u"aux",  u"nul",  u"com1", u"com2", u"com3", u"com4", u"com5", u"com6", u"com7",
      u"com8", u"com9", u"lpt1", u"lpt2", u"lpt3", u"lpt4", u"lpt5", u"lpt6", u"lpt7", u"lpt8", u"lpt9"};
  const std::u16string stem = TavrinFilePackage::KeyOf(component.substr(0, component.find(u'.')));
  for (std::u16string_view device : kDevices)
    if (stem == device) return true;
  return false;
}

bool CheckComponent(std::u16string_view component, std::string* reason) {
  if (component.empty()) {
    *reason = "empty path component";
    return false;
  }
  if (component == u"." || component == u"..") {
    *reason = "\".\" or \"..\" component";
    return false;
  }
  for (char16_t unit : component) {
    // ":" would name a drive or an alternate data stream on Windows.
    if (unit < 0x20 || unit == u':' || unit == u'*' || unit == u'?' || unit == u'"' || unit == u'<' || unit == u'>' ||
        unit == u'|') {
      *reason = "character not allowed in a file name";
      return false;
    }
  }
  // Windows drops trailing dots and spaces, so ".. " would become "..".
  if (component.back() == u'.' || component.back() == u' ') {
    *reason = "component ending in a dot or space";
    return false;
  }
  if (IsDeviceName(component)) {
    *reason = "reserved device name";
    return false;
  }
  return true;
}

}  // namespace

bool SplitEntryPath(std::u16string_view fullName, std::vector<std::u16string>* components, std::string* reason) {
  components->clear();
  if (fullName.empty()) {
    *reason = "empty name";
    return false;
  }
  // Covers "\x", "/x" and UNC "\\server\share".
  if (IsSeparator(fullName.front())) {
    *reason = "absolute name";
    return false;
  }
  if (fullName.size() >= 2 && fullName[1] == u':') {
    *reason = "drive prefix";
    return false;
  }
  std::size_t start = 0;
  while (true) {
    std::size_t end = start;
    while (end < fullName.size() && !IsSeparator(fullName[end])) ++end;
    const std::u16string_view component = fullName.substr(start, end - start);
    if (!CheckComponent(component, reason)) {
      components->clear();
      return false;
    }
    components->emplace_back(component);
    if (end == fullName.size()) return true;
    start = end + 1;
  }
}
