// The process's question box on the Windows toolkit.

#include "ui/message_box_timer.h"
#include "ui/win32/win32_backend.h"

MessageBoxTimer& MessageBoxTimer::Instance() {
  static Ormel::SteadyCountdownClock clock;
  // Built without a module instance: its window class has no icon.
  static MessageBoxTimer box(Ormel::win32::Win32Backend::ForInstance(nullptr), clock);
  return box;
}
