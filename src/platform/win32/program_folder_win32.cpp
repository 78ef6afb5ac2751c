// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>

#include <vector>

#include "platform/program_folder.h"

namespace platform {

std::u16string ProgramFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::u16string path(reinterpret_cast<const char16_t*>(buffer.data()), length);
      const std::size_t last = path.find_last_of(u"\\/");
      return last == std::u16string::npos ? path : path.substr(0, last);
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
