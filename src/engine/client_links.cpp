#include "engine/client_links.h"

#include "platform/file.h"

namespace {

bool IsSeparator(char16_t unit) {
  return unit == u'\\' || unit == u'/';
}

std::u16string WithBackslashes(std::u16string path) {
  for (char16_t& unit : path)
    if (unit == u'/') unit = u'\\';
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  return path;
}

}  // namespace

std::u16string LinkBelow(const std::u16string& root, const std::u16string& path) {
  const std::u16string top = WithBackslashes(root);
  const std::u16string full = WithBackslashes(path);
  if (top.empty() || full.size() <= top.size() || full.compare(0, top.size(), top) != 0 ||
      !IsSeparator(full[top.size()]))
    return {};
  std::size_t at = top.size();
  while (at < full.size()) {
    const std::size_t next = full.find(u'\\', at + 1);
    // Shown as the caller wrote it: the separators of `path`.
    const std::u16string prefix = path.substr(0, next);
    // Repeated separators name no component of their own. A component that does not exist
    // is no link, nor is anything below it: one question per component.
    if (next != at + 1 && platform::IsLink(prefix)) return prefix;
    if (next == std::u16string::npos) break;
    at = next;
  }
  return {};
}

std::u16string FirstLinkBelow(const std::u16string& root, const std::vector<std::u16string>& paths) {
  for (const std::u16string& path : paths) {
    std::u16string link = LinkBelow(root, path);
    if (!link.empty()) return link;
  }
  return {};
}
