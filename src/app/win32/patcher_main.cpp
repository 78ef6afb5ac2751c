// patcher.exe: the updater's process entry. Everything it does is the start-up sequence
// (app/updater_startup.h) on the real desktop and the Windows toolkit.

#include <exception>

#include "app/log.h"
#include "app/system_desktop.h"
#include "app/updater_startup.h"
#include "platform/program_folder.h"
#include "platform/text.h"
#include "ui/message_box_timer.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/windows_headers.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    SystemDesktop desktop;
    const UpdaterSetup setup{Ormel::win32::Win32Backend::ForInstance(instance), desktop,
                             []() -> MessageBoxTimer& { return MessageBoxTimer::Instance(); },
                             platform::ProgramFolder()};
    return RunUpdater(setup);
  } catch (const std::exception& failure) {
    // Nothing is meant to throw this far; if something does, the log says what.
    Log::Error(u"Unexpected failure: %s", platform::Utf16FromUtf8(failure.what()));
    return 1;
  }
}
