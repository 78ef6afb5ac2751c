// <windows.h> first: the other Windows headers depend on it.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>

#include "platform/console.h"
#include "platform/win32/win32_handles.h"

namespace platform {

std::vector<std::u16string> CommandLineArguments(int, char**) {
  std::vector<std::u16string> arguments;
  int count = 0;
  const win32::UniqueLocalMemory<wchar_t*> wide(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (wide.get() == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(reinterpret_cast<const char16_t*>(wide.get()[i]));
  return arguments;
}

bool SetBinaryStandardStreams() {
  const bool out = ::_setmode(::_fileno(stdout), _O_BINARY) != -1;
  return ::_setmode(::_fileno(stderr), _O_BINARY) != -1 && out;
}

}  // namespace platform
