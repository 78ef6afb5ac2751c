#pragma once
// The user texts of the workflow and the main window, by their numbers (strings.inc).

#include <string_view>

enum class TextId : int {
#define UPDATER_STRING(id, name, text) name = id,
#include "workflow/strings.inc"
#undef UPDATER_STRING
};

// The text of a number; empty for a number the table does not hold.
std::u16string_view Text(TextId id);
std::u16string_view Text(int id);

// Texts of the manual update route that have no number. The last is also the question
// whenever saving the archives or the version fails (a full disk), on every route.
inline constexpr std::u16string_view kManualErrorTitle = u"Ошибка обновления";
inline constexpr std::u16string_view kManualCannotOpen =
    u"Не удалось открыть файл ручного обновления.\nВыбрать другой файл?";
inline constexpr std::u16string_view kManualVersionTooLow =
    u"Версия клиента ниже версии файла обновления.\nВыбрать другой файл?";
inline constexpr std::u16string_view kManualNotNewer =
    u"Файл обновления не ведёт к более новой версии клиента.\nВыбрать другой файл?";
// A release that did not pass the check of its signature (retried as a server error is).
inline constexpr std::u16string_view kUnverifiedRetry = u"Обновление не прошло проверку подписи.\nПовторить попытку?";
// A package from disk with release keys: one no signed release names, and one that could not
// be checked because the server's signed manifest could not be had.
inline constexpr std::u16string_view kManualNotSigned =
    u"Файл обновления не прошёл проверку подписи: его нет ни в одном подписанном выпуске.\nВыбрать другой файл?";
inline constexpr std::u16string_view kManualUnchecked =
    u"Подпись файла обновления проверить не удалось: подписанное описание выпуска недоступно.\nПрименить файл без "
    u"проверки?";
// A link inside the client folder on the way to a file the updater writes (%s: the link, below
// the client root, so that the question box holds it).
inline constexpr std::u16string_view kLinkInClientFolder =
    u"В папке клиента есть ссылка: %s.\nПрограмма обновления не пишет через ссылки: уберите её и запустите программу "
    u"снова.";
inline constexpr std::u16string_view kManualWriteFailed =
    u"Ошибка обновления файла.\nУбедитесь, что на диске достаточно свободного места.\nПовторить попытку?";
