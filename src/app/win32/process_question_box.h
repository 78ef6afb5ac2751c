#pragma once
// The process's one question box, built on first use on the UI thread. Built without a module
// instance: its window class has no icon. Windows only.

#include "ui/countdown.h"
#include "ui/win32/win32_backend.h"
#include "workflow/message_box_timer.h"

inline MessageBoxTimer& ProcessQuestionBox() {
  static Ormel::SteadyCountdownClock clock;
  static MessageBoxTimer box(Ormel::win32::Win32Backend::ForInstance(nullptr), clock);
  return box;
}
