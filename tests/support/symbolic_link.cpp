#include "support/symbolic_link.h"

#include <chrono>
#include <optional>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "support/child_process.h"
#endif

namespace testsupport {

#ifdef _WIN32
namespace {

// The Linux path Wine maps a Windows path to; nothing outside Wine.
std::optional<std::string> LinuxPathOf(const std::filesystem::path& path) {
  using UnixFileName = char*(__cdecl*)(const wchar_t*);
  const auto unixFileName = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixFileName == nullptr) return std::nullopt;
  char* name = unixFileName(std::filesystem::absolute(path).wstring().c_str());
  if (name == nullptr) return std::nullopt;
  std::string text(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return text;
}

bool Present(const std::filesystem::path& path) {
  return ::GetFileAttributesW(path.wstring().c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A Linux program with its arguments, run until `done` holds (at most 30 s): start.exe does not
// wait for a Linux program, so its effect is waited for instead.
template <typename Done>
bool RunLinux(const std::vector<std::string>& command, Done done) {
  std::vector<std::string> arguments = {"/unix"};
  arguments.insert(arguments.end(), command.begin(), command.end());
  ChildProcess child;
  if (!child.Start("C:\\windows\\system32\\start.exe", arguments)) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::Sleep(10);
  }
  child.Wait(std::chrono::seconds(30));
  return true;
}

}  // namespace
#endif

SymbolicLinks::~SymbolicLinks() {
  for (const std::filesystem::path& link : links_) {
#ifdef _WIN32
    if (const std::optional<std::string> at = LinuxPathOf(link))
      RunLinux({"/bin/rm", "-f", *at}, [&] { return !Present(link); });
#else
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
#endif
  }
}

bool SymbolicLinks::Make(const std::filesystem::path& target, const std::filesystem::path& link, std::string* why) {
#ifdef _WIN32
  const std::optional<std::string> from = LinuxPathOf(target);
  const std::optional<std::string> at = LinuxPathOf(link);
  if (!from || !at) {
    *why = "not under Wine: no way to make a symbolic link without privileges";
    return false;
  }
  if (!RunLinux({"/bin/ln", "-s", *from, *at}, [&] { return Present(link); })) {
    *why = "ln -s " + *from + " " + *at + " did not succeed within 30 s";
    return false;
  }
#else
  std::error_code error;
  std::filesystem::create_symlink(target, link, error);
  if (error) {
    *why = "cannot make a symbolic link: " + error.message();
    return false;
  }
#endif
  links_.push_back(link);
  return true;
}

}  // namespace testsupport
