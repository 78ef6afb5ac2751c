#pragma once
// The updater's start, from the process entry to the end of its message loop: one updater at
// a time, no update beside a running game client, the log, the updater session (its main
// window), the graphics switch, the updater's own version (handing over to the launcher
// program when the server expects another one), then the window and its message loop.

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
  UpdateServerAddress server = BuiltInUpdateServer();
  std::string mainSkinPath = MainForm::kSkinPath;
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
inline constexpr std::u16string_view kSkinNotLoaded = u"Не удалось загрузить оформление программы: ";
