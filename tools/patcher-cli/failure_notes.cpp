#include "failure_notes.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <type_traits>
#include <variant>

#include "platform/text.h"
#include "workflow/disk_full_text.h"

std::string DisplayPath(std::u16string_view path) {
  std::u16string slashed(path);
  for (char16_t& unit : slashed)
    if (unit == u'\\') unit = u'/';
  return platform::Utf8FromUtf16(std::filesystem::path(slashed).make_preferred().u16string());
}

namespace {

std::string Utf8(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}

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

// Why an archive could be neither opened nor made afresh.
std::string ArchiveCause(const ArchiveFailure& failure) {
  if (failure.folderInPlace) return "на месте архива папка";
  switch (failure.fileError) {
    case 0:
      return std::string("архив не открывается (") + PackageResultText(failure.opened) +
             "), и создать его заново не удалось (" + PackageResultText(failure.created) + ")";
    case EACCES:
      return "архив занят другой программой или защищён от записи";
    case ENOENT:
      return "архива нет, и создать его не удалось (папка защищена от записи?)";
    case ENOSPC:
      return "архив не открывается, и создать его заново не удалось: на диске нет места";
    case EROFS:
      return "диск защищён от записи";
    default:
      // The system's words are English: set apart from the sentence.
      return std::string("архив не открывается (") + std::strerror(failure.fileError) + ")";
  }
}

// ": на диске нет места (свободно ..., нужно ...)" when the disk had no room, else `otherwise`.
std::string NoRoomOr(const std::optional<DiskShortage>& diskFull, std::string otherwise) {
  if (!diskFull) return otherwise;
  return ": " + platform::Utf8FromUtf16(DiskFullText(*diskFull));
}

}  // namespace

std::string FailureNotes::Server() const {
  return "сервер обновлений " + Utf8(AddressText(server_));
}

std::string FailureNotes::RequestCause(const FailedRequest& request) const {
  const std::string cause = CauseText(request.failure, request.status);
  if (cause.empty()) return {};
  // A package on a host of its own, or a mirror, names its server.
  if (request.host != server_.host || request.port != server_.port)
    return Utf8(AddressText({request.host, request.port})) + ": " + cause;
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

std::vector<std::string> FailureNotes::Explain(const FailureCause& cause) const {
  return std::visit(
      [this](const auto& result) -> std::vector<std::string> {
        using Result = std::decay_t<decltype(result)>;
        if constexpr (std::is_same_v<Result, OpenResult>) {
          return Archives(result);
        } else if constexpr (std::is_same_v<Result, ServerVersion>) {
          return {Version(result)};
        } else if constexpr (std::is_same_v<Result, ListResult>) {
          return {List(result)};
        } else if constexpr (std::is_same_v<Result, CheckResult>) {
          return {Files(result)};
        } else if constexpr (std::is_same_v<Result, ApplyResult>) {
          return {Package(result)};
        } else {
          return {Write(result)};
        }
      },
      cause);
}

std::vector<std::string> FailureNotes::Archives(const OpenResult& opened) const {
  std::vector<std::string> lines;
  if (!opened.link.empty())
    lines.push_back("ссылка в папке клиента: " + DisplayPath(opened.link) + " (через ссылки ничего не пишется)");
  for (const ArchiveFailure& failure : opened.failed)
    lines.push_back("архив " + DisplayPath(failure.path) + ": " + ArchiveCause(failure));
  return lines;
}

namespace {

// Why a signed release was refused, in the console's words.
std::string VerifyCause(VerifyFailure failure) {
  switch (failure) {
    case VerifyFailure::kNoManifest:
      return "на сервере нет подписанного описания выпуска (release.manifest и release.manifest.sig)";
    case VerifyFailure::kMalformed:
      return "описание выпуска повреждено";
    case VerifyFailure::kBadSignature:
      return "описание выпуска подписано не ключом владельца сервера";
    case VerifyFailure::kExpired:
      return "срок подписи описания выпуска истёк";
    case VerifyFailure::kRolledBack:
      return "выпуск старше уже проверенного";
    case VerifyFailure::kOtherRelease:
      return "версия (version) не та, что подписана";
    case VerifyFailure::kMismatch:
      return "полученное не совпадает с подписанным описанием выпуска";
    case VerifyFailure::kNone:
      break;
  }
  return {};
}

}  // namespace

std::string FailureNotes::Version(const ServerVersion& version) const {
  if (version.outcome == ServerVersion::Outcome::kUnverified)
    return Server() + ": обновление не прошло проверку подписи: " + VerifyCause(version.failure);
  if (version.outcome == ServerVersion::Outcome::kMalformed)
    return Server() + ": вместо версии (version) пришло не число выпуска: «" + version.received + "»";
  return ServerFailure("версию (version)", RequestCause(version.request));
}

std::string FailureNotes::List(const ListResult& list) const {
  const std::string what = "список файлов (" + Utf8(list.resource) + ")";
  switch (list.outcome) {
    case ListResult::Outcome::kEmpty:
      return ServerFailure(what, "список пуст");
    case ListResult::Outcome::kUnreadable:
      return ServerFailure(what, "список повреждён");
    case ListResult::Outcome::kOtherRelease:
      return ServerFailure(what, "список выпуска " + std::to_string(list.version) + ", а не выпуска сервера");
    case ListResult::Outcome::kUnverified:
      return ServerFailure(what, "не прошёл проверку подписи: " + VerifyCause(VerifyFailure::kMismatch));
    default:
      return ServerFailure(what, RequestCause(list.request));
  }
}

std::string FailureNotes::Files(const CheckResult& checked) const {
  const std::string file = "файл " + Utf8(checked.path);
  switch (checked.outcome) {
    case CheckResult::Outcome::kDownloadFailed: {
      const std::string cause = RequestCause(checked.request);
      // The lists came from this server, so the file's name is what it does not know.
      if (checked.request.failure == FetchFailure::kHttpStatus && checked.request.status == 404)
        return file + ": не удалось получить его (" + Server() + ": " + cause +
               "); сервер должен отдавать имена files\\... с обратной косой чертой как пути к папкам, как это делает "
               "прилагаемая настройка nginx (tools/publish/nginx/solmere-update.conf)";
      if (!cause.empty()) return file + ": не удалось получить его (" + Server() + ": " + cause + ")";
      return file + ": то, что прислал " + Server() + ", не совпадает со списком файлов";
    }
    case CheckResult::Outcome::kArchiveFailed:
      if (checked.archiveResult == PackageResult::kNotOpen)
        return file + ": архив " + Utf8(checked.archive) + " не открыт";
      return file + ": архив " + Utf8(checked.archive) + " не принял его" +
             NoRoomOr(checked.diskFull,
                      " (" + std::string(PackageResultText(checked.archiveResult)) + "; нет места на диске?)");
    case CheckResult::Outcome::kFileFailed:
      return file + ": не удалось записать " + DisplayPath(checked.file) +
             NoRoomOr(checked.diskFull, " (нет места или прав на запись?)");
    case CheckResult::Outcome::kBadPath:
      return file + ": такое имя в списке файлов недопустимо (ведёт за пределы папки клиента)";
    case CheckResult::Outcome::kConflict:
      return file + ": список файлов называет этот файл дважды, с разным содержимым";
    case CheckResult::Outcome::kDone:
    case CheckResult::Outcome::kCancelled:
      break;
  }
  return file + ": подробности в log.txt";
}

std::string FailureNotes::Package(const ApplyResult& applied) const {
  const std::string package = DisplayPath(applied.package);
  switch (applied.outcome) {
    case ApplyResult::Outcome::kCannotOpen:
    case ApplyResult::Outcome::kDamaged:
      return package + ": это не пакет обновления (или пакет повреждён)";
    case ApplyResult::Outcome::kVersionTooLow:
      return package + ": пакет для клиента версии " + std::to_string(applied.minimumVersion) +
             " и выше, а у клиента " + std::to_string(applied.clientVersion) + "; пакет не применён";
    case ApplyResult::Outcome::kNotNewer:
      return package + ": пакет ведёт к версии " + std::to_string(applied.targetVersion) + ", а у клиента " +
             std::to_string(applied.clientVersion) + "; пакет не применён";
    case ApplyResult::Outcome::kArchiveFailed:
      return "не удалось записать файлы пакета в архив " + DisplayPath(applied.archive) +
             NoRoomOr(applied.diskFull, " (нет места на диске?); подробности в log.txt");
    case ApplyResult::Outcome::kFileFailed:
      return "не удалось записать файл пакета " + DisplayPath(applied.file) +
             NoRoomOr(applied.diskFull, " (нет места или прав на запись?); подробности в log.txt");
    case ApplyResult::Outcome::kVersionFailed:
      return Write(applied.version);
    case ApplyResult::Outcome::kUnverified:
      return "пакет " + package + " не проверен: его не называет ни один подписанный выпуск сервера";
    case ApplyResult::Outcome::kApplied:
    case ApplyResult::Outcome::kCancelled:
      break;
  }
  return package + ": подробности в log.txt";
}

std::string FailureNotes::Write(const WriteResult& written) const {
  const std::string path = DisplayPath(written.path);
  switch (written.outcome) {
    case WriteResult::Outcome::kVersionFileFailed:
      if (written.folderInPlace) return "не удалось записать версию клиента в " + path + ": на месте файла папка";
      return "не удалось записать версию клиента в " + path +
             NoRoomOr(written.diskFull, " (нет места или прав на запись?)");
    case WriteResult::Outcome::kVersionEntryFailed:
      return "не удалось записать версию клиента в архив " + path +
             NoRoomOr(written.diskFull, " (нет места на диске?); подробности в log.txt");
    case WriteResult::Outcome::kArchiveFailed:
    case WriteResult::Outcome::kWritten:
      break;
  }
  return "не удалось сохранить архив " + path +
         NoRoomOr(written.diskFull, " (нет места на диске?); подробности в log.txt");
}
