#include "offline_apply.h"

#include <cstdio>

#include "base/log.h"
#include "base/text_format.h"
#include "console_window.h"
#include "engine/client_archive_set.h"
#include "exit_codes.h"
#include "formats/update_package.h"
#include "package_file.h"
#include "platform/file.h"
#include "platform/text.h"
#include "workflow/string_table.h"
#include "workflow/update_workflow.h"

namespace {

void Error(const std::string& text) {
  std::fprintf(stderr, "patcher-cli: %s\n", text.c_str());
  std::fflush(stderr);
}

// The minimum version the package asks of the client; none when it cannot be read.
std::optional<int32_t> MinimumVersionOf(const std::u16string& path) {
  platform::File file;
  if (file.Open(path, platform::FileMode::kRead) != 0) return std::nullopt;
  FilePackageSource source(file);
  PackageHeader header;
  if (!ReadPackageHeader(source, &header)) return std::nullopt;
  return header.minimumVersion;
}

}  // namespace

bool OfflineApply::ChooseAnother(std::u16string_view question, std::u16string& path) {
  // Nobody to choose: no question that only a chooser could answer.
  if (!interactive_) return false;
  for (;;) {
    if (window_.Ask(kManualErrorTitle, question, 0) != kAnswerYes || !window_.ChooseManualPackage(path)) return false;
    std::string why;
    if (CheckPackageFile(path, &why)) return true;
    Error(why);
  }
}

int OfflineApply::Run(std::u16string packagePath) {
  workflow_.ShowPreparing();
  if (!workflow_.LoadArchives()) return kExitDamagedFolder;
  window_.SetStepFormat(u"");
  versionBefore_ = archives_.ReadLocalVersion();
  window_.SetVersionLine(FormatText(u"%s%d", Text(TextId::kClientVersion), *versionBefore_));

  Log::InfoText(Text(TextId::kUpdatingClient));
  window_.SetStatus(Text(TextId::kUpdatingClient));
  int code = kExitReady;
  for (;;) {
    archives_.itemsTotal = 0;
    archives_.itemsDone = 0;
    window_.SetStepFormat(Text(TextId::kUpdatingFiles));
    const int32_t result = archives_.ApplyPackage(packagePath);
    if (result == ClientArchiveSet::kApplyCancelled || archives_.cancelRequested()) {
      workflow_.FinishCancel();
      return kExitCancelled;
    }
    if (result == -1 || result == -2) {
      if (result == -1) {
        Error(platform::Utf8FromUtf16(packagePath) + ": это не пакет обновления (или пакет повреждён)");
      } else {
        const std::optional<int32_t> minimum = MinimumVersionOf(packagePath);
        Error(platform::Utf8FromUtf16(packagePath) + ": пакет для клиента версии " +
              (minimum ? std::to_string(*minimum) : std::string("?")) + " и выше, а у клиента " +
              std::to_string(archives_.ReadLocalVersion()) + "; пакет не применён");
      }
      if (ChooseAnother(result == -1 ? kManualCannotOpen : kManualVersionTooLow, packagePath)) continue;
      code = result == -1 ? kExitUsage : kExitNotUpdated;
    } else if (result == -3 || result == -4) {
      if (window_.Ask(kManualErrorTitle, kManualWriteFailed, UpdateWorkflow::kManualRetrySeconds) == kAnswerYes)
        continue;
      code = kExitNotUpdated;
    }
    break;
  }
  // As after the window's manual update: what was applied stays applied.
  window_.SetStepFormat(Text(TextId::kSavingArchives));
  archives_.SaveArchives();
  window_.SetStepFormat(u"");
  if (code == kExitReady) Log::InfoText(Text(TextId::kUpdateFinished));
  window_.SetVersionLine(FormatText(u"%s%d", Text(TextId::kClientVersion), archives_.ReadLocalVersion()));
  if (code == kExitReady) window_.SetStatus(Text(TextId::kUpdateFinished));
  return code;
}
