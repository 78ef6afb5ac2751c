#pragma once
// The updater's start, from the process entry to the end of its message loop: one updater at
// a time, no update beside a running game client, the log, the updater session (its main
// window), the graphics switch, the updater's own version (handing over to the launcher
// program when the server expects another one, after bringing the launcher program's own
// files up to date), then the window and its message loop. A swap of the updater's files that
// was cut short is finished first, and the launcher program then starts the new updater.

#include <functional>
#include <string>
#include <string_view>

#include "net/update_server_address.h"
#include "workflow/main_form.h"

namespace Ormel {
class Backend;
}
class Desktop;
class MessageBoxTimer;

struct UpdaterSetup {
  Ormel::Backend& backend;
  Desktop& desktop;
  // Builds the process's question box on first use, which comes before everything else.
  std::function<MessageBoxTimer&()> questions;
  // The folder of the updater's program file: the client archive set goes from it.
  std::u16string programFolder;
  // The update server and its mirrors, in the order they are tried.
  std::vector<UpdateServerAddress> servers = BuiltInUpdateServers();
  std::string mainSkinPath = MainForm::kSkinPath;
  // The launcher program could not bring this updater up to date and started it all the same:
  // it goes on with the client's update instead of handing over again.
  bool ownUpdateFailed = false;
};

// The process's exit code: the quit request's, otherwise 0.
int RunUpdater(const UpdaterSetup& setup);

inline constexpr std::u16string_view kErrorCaption = u"Ошибка";
inline constexpr std::u16string_view kAlreadyRunning = u"Программа уже запущена";
inline constexpr std::u16string_view kClientRunningTitle = u"Игра уже запущена";
inline constexpr std::u16string_view kClientRunningQuestion =
    u"Для обновления игры необходимо закрыть все окна клиента.\n\nВы хотите запустить еще одно окно игры?";
// Texts of this program's own, for failures that would otherwise end the program unseen.
inline constexpr std::u16string_view kLauncherNotStarted =
    u"Требуется обновление патчера, но не удалось запустить программу:\n";
inline constexpr std::u16string_view kOwnUpdateFailed =
    u"Не удалось обновить программу обновления.\nОбновление игры продолжится прежней версией программы.";
inline constexpr std::u16string_view kSkinNotLoaded = u"Не удалось загрузить оформление программы: ";
