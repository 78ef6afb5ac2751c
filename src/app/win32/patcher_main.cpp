// patcher.exe: the updater's process entry. Everything it does is the start-up sequence
// (app/updater_startup.h) on the real desktop and the Windows toolkit.

#include <exception>

#include "app/updater_startup.h"
#include "app/win32/system_desktop.h"
#include "base/log.h"
#include "platform/program_folder.h"
#include "platform/text.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/windows_headers.h"
#include "workflow/message_box_timer.h"

namespace {

// The process's one question box, built on first use on the UI thread. Built without a module
// instance: its window class has no icon.
MessageBoxTimer& ProcessQuestionBox() {
  static Ormel::SteadyCountdownClock clock;
  static MessageBoxTimer box(Ormel::win32::Win32Backend::ForInstance(nullptr), clock);
  return box;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    SystemDesktop desktop;
    const UpdaterSetup setup{Ormel::win32::Win32Backend::ForInstance(instance), desktop, ProcessQuestionBox,
                             platform::ProgramFolder()};
    return RunUpdater(setup);
  } catch (const std::exception& failure) {
    // Nothing is meant to throw this far; if something does, the log says what.
    Log::Error(u"Unexpected failure: %s", platform::Utf16FromUtf8(failure.what()));
    return 1;
  }
}
