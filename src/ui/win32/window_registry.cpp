#include "ui/win32/window_registry.h"

#include <cstdio>
#include <mutex>
#include <unordered_map>

namespace Ormel::win32 {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<HWND, Form*> forms;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterFormWindow(HWND window, Form* form) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.forms[window] = form;
}

void UnregisterFormWindow(HWND window) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.forms.erase(window);
}

Form* FormOfWindow(HWND window) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.forms.find(window);
  return found != registry.forms.end() ? found->second : nullptr;
}

void ReportSystemError(const char* message) {
  const DWORD error = GetLastError();
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      text, sizeof text, nullptr);
  // The system's text ends in a line break of its own.
  DWORD end = length;
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
  text[end] = '\0';
  std::fprintf(stderr, "%s: %s\n", message, end > 0 ? text : "unknown error");
}

}  // namespace Ormel::win32
