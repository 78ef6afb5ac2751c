// launcher\Launcher.exe: the launcher program, which brings the updater itself up to date and
// starts it (app/launcher_run.h), on the real desktop and the Windows toolkit.

#include <exception>
#include <string>

#include "app/launcher_run.h"
#include "app/win32/process_question_box.h"
#include "app/win32/system_desktop.h"
#include "base/log.h"
#include "base/text_format.h"
#include "platform/program_folder.h"
#include "platform/text.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/windows_headers.h"

namespace {

// Tests stop the program at one step of its update (SOLMERE_TEST_PAUSE_AT=N) to kill it there:
// the step is logged, and the program waits to be killed.
ProgramUpdate::StepHook PauseForTests() {
  wchar_t text[16] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"SOLMERE_TEST_PAUSE_AT", text, 16);
  if (length == 0 || length >= 16) return {};
  const int pauseAt = _wtoi(text);
  if (pauseAt <= 0) return {};
  return [pauseAt, steps = 0]() mutable {
    if (++steps != pauseAt) return;
    Log::Info(u"Paused at step %d", pauseAt);
    for (;;) ::Sleep(1000);
  };
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    const std::u16string folder = platform::ProgramFolder();
    // The skin's pictures are found from the working folder, and the console stub starts this
    // program from the client root.
    ::SetCurrentDirectoryW(reinterpret_cast<const wchar_t*>(folder.c_str()));
    SystemDesktop desktop;
    LauncherSetup setup{Ormel::win32::Win32Backend::ForInstance(instance), desktop, ProcessQuestionBox, folder};
    setup.markOwnUpdateFailed = [] {
      ::SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(kOwnUpdateFailedVariable), L"1");
    };
    setup.afterStep = PauseForTests();
    return RunLauncher(setup);
  } catch (const std::exception& failure) {
    Log::Error(u"Unexpected failure: %s", platform::Utf16FromUtf8(failure.what()));
    return 1;
  }
}
