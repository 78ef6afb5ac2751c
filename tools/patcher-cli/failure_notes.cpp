#include "failure_notes.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/client_archive_set.h"
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

std::string FailureNotes::ServerFailure(std::string_view what) const {
  // The transfer layer does not name the cause of a failed request yet: refused, timed
  // out, name not found or an HTTP status all end as one failure.
  return Server() + ": не удалось получить " + std::string(what);
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
  if (secondLine == Text(TextId::kServerErrorRetry)) return {ServerFailure("версию (version)")};
  if (secondLine == Text(TextId::kListErrorRetry)) return {ServerFailure("список файлов")};
  if (secondLine == Text(TextId::kFileErrorRetry)) {
    // A failed pass keeps the entry it stopped at first in the table (the asking worker
    // waits for the answer, so nothing changes the table meanwhile).
    if (archives_.fileTable.empty()) return {ServerFailure("файл")};
    const std::u16string& path = archives_.fileTable.begin()->first;
    return {"файл " + platform::Utf8FromUtf16(path) + ": не удалось получить его (" + Server() +
            ") или записать в клиент; подробности в log.txt"};
  }
  if (secondLine == kManualWriteFailed)
    return {"не удалось записать файлы пакета в клиент (нет места или прав на запись?); подробности в log.txt"};
  return {};
}
