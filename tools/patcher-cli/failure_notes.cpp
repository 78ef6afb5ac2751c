#include "failure_notes.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/client_archive_set.h"
#include "net/update_server_client.h"
#include "platform/file.h"
#include "platform/text.h"
#include "workflow/string_table.h"

std::string DisplayPath(std::u16string_view path) {
  std::u16string slashed(path);
  for (char16_t& unit : slashed)
    if (unit == u'\\') unit = u'/';
  return platform::Utf8FromUtf16(std::filesystem::path(slashed).make_preferred().u16string());
}

FailureNotes::FailureNotes(ClientArchiveSet& archives, std::u16string host, uint16_t port)
    : archives_(archives), host_(std::move(host)), port_(port) {}

std::string FailureNotes::Server() const {
  return "сервер обновлений " + platform::Utf8FromUtf16(host_) + ":" + std::to_string(port_);
}

namespace {

// The cause of a failed request in the console's words.
std::string CauseText(FetchFailure failure, uint32_t status) {
  switch (failure) {
    case FetchFailure::kRefused:
      return "соединение отклонено";
    case FetchFailure::kTimedOut:
      return "сервер не ответил вовремя";
    case FetchFailure::kNameNotResolved:
      return "имя сервера не найдено";
    case FetchFailure::kHttpStatus:
      return status == 404 ? "сервер ответил кодом 404 (нет такого файла)"
                           : "сервер ответил кодом " + std::to_string(status);
    case FetchFailure::kNoContentLength:
      return "в ответе сервера нет длины";
    case FetchFailure::kBrokenOff:
      return "передача оборвалась";
    case FetchFailure::kTooLarge:
      return "файл больше, чем можно принять";
    case FetchFailure::kBadRange:
      return "сервер ответил не той частью файла";
    case FetchFailure::kFailed:
      return "запрос не удался";
    case FetchFailure::kNone:
    case FetchFailure::kCancelled:
      break;
  }
  return {};
}

// True when a resource name of a list matches the one a failed request asked for.
bool IsListResource(std::u16string_view path) {
  return path == u"fulllist" || path.substr(0, 5) == u"list_";
}

}  // namespace

std::string FailureNotes::Cause(bool (*matches)(std::u16string_view path, std::u16string_view wanted),
                                std::u16string_view wanted) const {
  if (archives_.serverClient == nullptr) return {};
  const UpdateServerClient::Failure last = archives_.serverClient->lastFailure();
  if (last.failure == FetchFailure::kNone || !matches(last.path, wanted)) return {};
  const std::string cause = CauseText(last.failure, last.status);
  if (cause.empty()) return {};
  // A package on a host of its own names that host.
  if (last.host != host_) return platform::Utf8FromUtf16(last.host) + ":" + std::to_string(last.port) + ": " + cause;
  return cause;
}

std::string FailureNotes::ServerFailure(std::string_view what, std::string_view cause) const {
  std::string line = Server() + ": не удалось получить " + std::string(what);
  if (!cause.empty()) line += ": " + std::string(cause);
  return line;
}

std::string FailureNotes::ServerBehind(int32_t server, int32_t client) const {
  return Server() + " сообщает версию " + std::to_string(server) + ", а у клиента " + std::to_string(client) +
         ": версия сервера не может быть ниже";
}

std::vector<std::string> FailureNotes::DamagedArchives() const {
  std::vector<std::string> lines;
  for (std::u16string_view name : archives_.archiveNames) {
    if (archives_.GetPackage(name) != nullptr) continue;
    const std::u16string pck = archives_.clientFolder + u"\\" + std::u16string(name) + u".pck";
    std::string cause;
    std::error_code error;
    std::u16string slashed = pck;
    for (char16_t& unit : slashed)
      if (unit == u'\\') unit = u'/';
    if (std::filesystem::is_directory(std::filesystem::path(slashed), error)) {
      cause = "на месте архива папка";
    } else {
      // The set tried to open it and then to create it afresh; what stops that now is the cause.
      platform::File probe;
      const int opened = probe.Open(pck, platform::FileMode::kReadWrite);
      if (opened == EACCES)
        cause = "архив занят другой программой или защищён от записи";
      else if (opened == ENOENT)
        cause = "архива нет, и создать его не удалось (папка защищена от записи?)";
      else if (opened == 0)
        cause = "архив не открывался, когда его читали (занят другой программой?)";
      else
        cause = std::strerror(opened);
    }
    lines.push_back("архив " + DisplayPath(pck) + ": " + cause);
  }
  return lines;
}

std::vector<std::string> FailureNotes::ForQuestion(std::u16string_view secondLine) const {
  if (secondLine == Text(TextId::kArchivesNotOpened)) return DamagedArchives();
  const auto same = [](std::u16string_view path, std::u16string_view wanted) { return path == wanted; };
  const auto list = [](std::u16string_view path, std::u16string_view) { return IsListResource(path); };
  if (secondLine == Text(TextId::kServerErrorRetry))
    return {ServerFailure("версию (version)", Cause(same, u"version"))};
  if (secondLine == Text(TextId::kListErrorRetry)) return {ServerFailure("список файлов", Cause(list, u""))};
  if (secondLine == Text(TextId::kFileErrorRetry)) {
    // A failed pass keeps the entry it stopped at first in the table (the asking worker
    // waits for the answer, so nothing changes the table meanwhile).
    if (archives_.fileTable.empty()) return {ServerFailure("файл", {})};
    const std::u16string& path = archives_.fileTable.begin()->first;
    const std::string cause = Cause(same, u"files\\" + path);
    if (!cause.empty())
      return {"файл " + platform::Utf8FromUtf16(path) + ": не удалось получить его (" + Server() + ": " + cause + ")"};
    return {"файл " + platform::Utf8FromUtf16(path) + ": не удалось получить его (" + Server() +
            ") или записать в клиент; подробности в log.txt"};
  }
  if (secondLine == kManualWriteFailed)
    return {"не удалось записать файлы пакета в клиент (нет места или прав на запись?); подробности в log.txt"};
  return {};
}
