#include "package_url.h"

#include "formats/patch_list.h"

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
  if (url->size() > kMaxPackageUrlLength) {
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
