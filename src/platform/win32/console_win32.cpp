// <windows.h> first: the other Windows headers depend on it.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>

#include "platform/console.h"

namespace platform {

std::vector<std::u16string> CommandLineArguments(int, char**) {
  std::vector<std::u16string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(reinterpret_cast<const char16_t*>(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

bool SetBinaryStandardStreams() {
  const bool out = ::_setmode(::_fileno(stdout), _O_BINARY) != -1;
  return ::_setmode(::_fileno(stderr), _O_BINARY) != -1 && out;
}

}  // namespace platform
