// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>

#include "platform/instance_marker.h"

namespace platform {

InstanceMarker::~InstanceMarker() {
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
}

bool InstanceMarker::Acquire(const std::u16string& name) {
  if (handle_ != nullptr) return true;
  // Owned at creation and released at once: the mutex is only a named marker, never waited on.
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, reinterpret_cast<const wchar_t*>(name.c_str()));
  if (mutex == nullptr) return true;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    return false;
  }
  ::ReleaseMutex(mutex);
  handle_ = mutex;
  return true;
}

}  // namespace platform
