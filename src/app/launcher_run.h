#pragma once
// The launcher program's run: it brings the updater's own files (patcher\) to what the update
// server lists, then starts the updater. It waits, bounded, for the updater that started it to
// end; then fetches the version the server expects and the updater's list, stages and checks
// what differs and swaps it in (ProgramUpdate), shows what it does in a small window and asks
// whether to try again when something fails. When the user declines, the old updater is
// started with the failure marker set, so that it goes on with the client's update instead of
// handing over again.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "app/launcher_window.h"
#include "engine/program_update.h"
#include "net/update_server_address.h"

namespace Ormel {
class Backend;
}
class Desktop;
class MessageBoxTimer;

struct LauncherSetup {
  Ormel::Backend& backend;
  Desktop& desktop;
  std::function<MessageBoxTimer&()> questions;
  // The launcher program's own folder: "launcher\" of the client root.
  std::u16string programFolder;
  UpdateServerAddress server = BuiltInUpdateServer();
  std::string skinPath = LauncherWindow::kSkinPath;
  // How long an updater that is still running is waited for.
  std::chrono::milliseconds updaterWait{30000};
  // Sets the marker the updater started after a failure finds (the process's environment).
  std::function<void()> markOwnUpdateFailed = nullptr;
  // Tests: called after every step of the update.
  ProgramUpdate::StepHook afterStep = nullptr;
};

// The process's exit code: 0 when the updater was started, 1 when it could not be.
int RunLauncher(const LauncherSetup& setup);

// The marker: set in the environment of the updater that the launcher program starts after
// its update failed.
inline constexpr char16_t kOwnUpdateFailedVariable[] = u"SOLMERE_OWN_UPDATE_FAILED";

inline constexpr std::u16string_view kLauncherStatus = u"Обновление программы обновления...";
inline constexpr std::u16string_view kLauncherWaiting = u"Ожидание завершения программы обновления...";
inline constexpr std::u16string_view kLauncherChecking = u"Проверка файлов программы обновления...";
inline constexpr std::u16string_view kLauncherDownloading = u"Загрузка файлов программы обновления...";
inline constexpr std::u16string_view kLauncherStarting = u"Запуск программы обновления...";
inline constexpr std::u16string_view kLauncherStartingOld = u"Запуск прежней версии программы обновления...";
inline constexpr std::u16string_view kLauncherFailedTitle = u"Ошибка обновления";
inline constexpr std::u16string_view kLauncherRetry = u"Повторить попытку?";
inline constexpr std::u16string_view kLauncherNotStartedTitle = u"Ошибка";
inline constexpr std::u16string_view kLauncherUpdaterNotStarted = u"Не удалось запустить программу обновления:\n";
