#pragma once
// Symbolic links made by a test, where the system lets them be made: natively the POSIX
// call; under Wine (whose CreateSymbolicLinkW makes nothing) the Linux ln, started through
// start.exe /unix on the Linux paths Wine maps the Windows ones to.

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// The links a test made; each is removed again when the object goes. Declare it after the
// temporary folder the links are in: removing a folder with a link to a folder in it never
// ends under Wine.
class SymbolicLinks {
 public:
  SymbolicLinks() = default;
  ~SymbolicLinks();
  SymbolicLinks(const SymbolicLinks&) = delete;
  SymbolicLinks& operator=(const SymbolicLinks&) = delete;

  // Makes `link` lead to `target`; false with the reason in `why` when no link could be made.
  bool Make(const std::filesystem::path& target, const std::filesystem::path& link, std::string* why);

 private:
  std::vector<std::filesystem::path> links_;
};

}  // namespace testsupport
