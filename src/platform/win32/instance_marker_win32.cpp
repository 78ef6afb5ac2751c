// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>

#include "platform/instance_marker.h"
#include "platform/win32/win32_handles.h"

namespace platform {

InstanceMarker::~InstanceMarker() {
  // The public header holds no Windows types: the mutex is handed back to an owner to close.
  const win32::UniqueHandle mutex(static_cast<HANDLE>(handle_));
}

bool InstanceMarker::Acquire(const std::u16string& name) {
  if (handle_ != nullptr) return true;
  // Owned at creation and released at once: the mutex is only a named marker, never waited on.
  win32::UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, reinterpret_cast<const wchar_t*>(name.c_str())));
  if (mutex.get() == nullptr) return true;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) return false;
  ::ReleaseMutex(mutex.get());
  handle_ = mutex.release();
  return true;
}

}  // namespace platform
