// patcher.exe: the updater's process entry. Everything it does is the start-up sequence
// (app/updater_startup.h) on the real desktop and the Windows toolkit.

#include <exception>

#include "app/launcher_run.h"
#include "app/updater_startup.h"
#include "app/win32/process_question_box.h"
#include "app/win32/system_desktop.h"
#include "base/log.h"
#include "platform/program_folder.h"
#include "platform/text.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/windows_headers.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    SystemDesktop desktop;
    UpdaterSetup setup{Ormel::win32::Win32Backend::ForInstance(instance), desktop, ProcessQuestionBox,
                       platform::ProgramFolder()};
    // Set by the launcher program when it could not update this one; what this updater starts
    // (the game client, a later launcher program) does not inherit it.
    const auto* marker = reinterpret_cast<const wchar_t*>(kOwnUpdateFailedVariable);
    setup.ownUpdateFailed = ::GetEnvironmentVariableW(marker, nullptr, 0) > 0;
    ::SetEnvironmentVariableW(marker, nullptr);
    return RunUpdater(setup);
  } catch (const std::exception& failure) {
    // Nothing is meant to throw this far; if something does, the log says what.
    Log::Error(u"Unexpected failure: %s", platform::Utf16FromUtf8(failure.what()));
    return 1;
  }
}
