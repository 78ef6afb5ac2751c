#include "patch_list.h"

#include <cstdio>

#include "net/patch_list.h"

namespace {

constexpr std::size_t kMaxUrlLength = 259;

}  // namespace

std::vector<PatchLine> ParsePatchList(const std::string& text) {
  std::vector<PatchLine> lines;
  // The updater stops at a first zero byte.
  const std::string usable = text.substr(0, text.find('\0'));
  std::size_t start = 0;
  while (start < usable.size()) {
    std::size_t end = usable.find('\n', start);
    if (end == std::string::npos) end = usable.size();
    const std::string line = usable.substr(start, end - start);
    start = end + 1;
    PatchLine parsed;
    char url[kMaxUrlLength + 1] = {};
    if (std::sscanf(line.c_str(), "%d %d %259[^\r]", &parsed.from, &parsed.to, url) == 3) {
      parsed.url = url;
      lines.push_back(std::move(parsed));
    }
  }
  return lines;
}

std::string FormatPatchList(const std::vector<PatchLine>& lines) {
  std::string text;
  for (const PatchLine& line : lines)
    text += std::to_string(line.from) + " " + std::to_string(line.to) + " " + line.url + "\n";
  return text;
}

bool LineCanHelpAClient(const std::vector<PatchLine>& lines, std::size_t index, int32_t serverVersion) {
  std::vector<PatchPair> pairs;
  for (const PatchLine& line : lines) pairs.push_back({line.from, line.to});
  return PatchLineCanHelp(pairs, index, serverVersion);
}

bool PackageUrl(const std::string& urlBase, const std::string& fileName, std::string* url, std::string* why) {
  const std::string scheme = "http://";
  if (urlBase.compare(0, scheme.size(), scheme) != 0 || urlBase.size() == scheme.size() ||
      urlBase[scheme.size()] == '/') {
    *why = "the package URL base must start with http:// and a host name";
    return false;
  }
  for (char c : urlBase)
    if (c <= ' ' || c > '~' || c == '?' || c == '#') {
      *why = "the package URL base may hold only ASCII letters, digits and punctuation, no query";
      return false;
    }
  std::string base = urlBase;
  while (base.back() == '/') base.pop_back();
  // Without a path after the host the name would join the host: http://host/1-3.cup needs the "/".
  *url = base + "/" + fileName;
  if (url->size() > kMaxUrlLength) {
    *why = "package URL longer than 259 characters: " + *url;
    return false;
  }
  return true;
}

std::string PackageFileName(const std::string& url) {
  std::string path = url.substr(0, url.find('?'));
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
