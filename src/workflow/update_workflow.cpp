#include "workflow/update_workflow.h"

#include <exception>

#include "base/log.h"
#include "base/text_format.h"
#include "engine/client_archive_set.h"
#include "platform/text.h"
#include "workflow/disk_full_text.h"

namespace {

// A version the workflow can compare with: fetched, and no negative number.
bool Usable(const ServerVersion& version) {
  return version.fetched() && version.version >= 0;
}

}  // namespace

UpdateWorkflow::UpdateWorkflow(ClientArchiveSet& archives, WorkflowWindow& window, ProgressSink& progress)
    : archives_(archives), window_(window), progress_(progress) {}

UpdateWorkflow::~UpdateWorkflow() {
  Stop();
}

void UpdateWorkflow::ShowPreparing() {
  SetStatus(TextId::kPreparing);
  SetStep(TextId::kReadingArchives);
}

bool UpdateWorkflow::StartStartup() {
  ShowPreparing();
  return StartWorker(NewOperation(), &UpdateWorkflow::StartupThread);
}

bool UpdateWorkflow::StartUpdate() {
  return StartWorker(NewOperation(), &UpdateWorkflow::UpdateThread);
}

bool UpdateWorkflow::StartCheck() {
  return StartWorker(NewOperation(), &UpdateWorkflow::CheckThread);
}

bool UpdateWorkflow::StartManualUpdate(const std::u16string& packagePath) {
  SetManualPackagePath(packagePath);
  return StartWorker(NewOperation(), &UpdateWorkflow::ManualUpdateThread);
}

bool UpdateWorkflow::StartOfflineApply(const std::u16string& packagePath) {
  SetManualPackagePath(packagePath);
  ShowPreparing();
  return StartWorker(NewOperation(), &UpdateWorkflow::OfflineApplyThread);
}

std::shared_ptr<CancelToken> UpdateWorkflow::NewOperation() {
  std::lock_guard<std::mutex> lock(tokenMutex_);
  // A stopping workflow starts nothing: its token stays cancelled.
  if (!stopping_) token_ = std::make_shared<CancelToken>();
  return token_;
}

std::shared_ptr<CancelToken> UpdateWorkflow::CurrentOperation() {
  std::lock_guard<std::mutex> lock(tokenMutex_);
  return token_;
}

bool UpdateWorkflow::StartWorker(std::shared_ptr<CancelToken> token, Entry entry) {
  return workers_.Start([this, token = std::move(token), entry] {
    const OperationContext context(token.get(), progress_);
    try {
      (this->*entry)(context);
    } catch (const std::exception& error) {
      ReportFailure(error.what());
    } catch (...) {
      ReportFailure("unknown exception");
    }
  });
}

void UpdateWorkflow::SetManualPackagePath(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(manualMutex_);
  manualPackagePath_ = path;
}

bool UpdateWorkflow::ConfirmCheck() {
  if (Ask(Text(TextId::kConfirmAction), Text(TextId::kCheckQuestion), 0) != kAnswerYes) return false;
  return StartCheck();
}

bool UpdateWorkflow::LoadArchives() {
  const std::shared_ptr<CancelToken> token = CurrentOperation();
  return LoadArchives(OperationContext(token.get(), progress_));
}

bool UpdateWorkflow::ConfirmClose() {
  if (!archives_.busy()) return true;
  return Ask(Text(TextId::kUpdateNotFinished), Text(TextId::kCancelQuestion), 0) == kAnswerYes;
}

void UpdateWorkflow::CancelPass() {
  if (archives_.busy()) Cancel();
}

void UpdateWorkflow::Cancel() {
  CurrentOperation()->Cancel();
  FinishCancel();
}

void UpdateWorkflow::WaitForWorkers() {
  workers_.JoinAll();
}

void UpdateWorkflow::Stop() {
  {
    std::lock_guard<std::mutex> lock(tokenMutex_);
    stopping_ = true;
    token_->Cancel();
  }
  workers_.Close();
}

std::u16string UpdateWorkflow::manualPackagePath() const {
  std::lock_guard<std::mutex> lock(manualMutex_);
  return manualPackagePath_;
}

void UpdateWorkflow::StartupThread(const OperationContext& context) {
  if (!LoadArchives(context)) return;
  ClearStep();
  CompareVersions(context, false);
}

void UpdateWorkflow::UpdateThread(const OperationContext& context) {
  RunUpdate(context, false);
}

void UpdateWorkflow::CheckThread(const OperationContext& context) {
  RunUpdate(context, true);
}

void UpdateWorkflow::ManualUpdateThread(const OperationContext& context) {
  RunManualUpdate(context, false);
}

void UpdateWorkflow::OfflineApplyThread(const OperationContext& context) {
  if (!LoadArchives(context)) return;
  ClearStep();
  ShowVersionLine(archives_.ReadLocalVersion());
  RunManualUpdate(context, true);
}

void UpdateWorkflow::ReportFailure(const char* what) {
  // Nothing may leave a thread entry, not even from here.
  try {
    Log::Error(u"Operation failed: %s", platform::Utf16FromUtf8(what));
    window_.EnableClose(true);
    ClearStep();
    ShowServerError();
  } catch (...) {
  }
}

bool UpdateWorkflow::LoadArchives(const OperationContext& context) {
  window_.EnableClose(false);
  Show(ButtonSet::kWorking);
  const OpenResult opened = archives_.OpenArchives(context);
  if (opened.allOpen()) {
    window_.EnableClose(true);
    return true;
  }
  Log::Error(u"%s", Text(TextId::kFolderDamaged));
  window_.ShowCause(opened);
  if (!opened.link.empty()) {
    // Named below the client root: a full path would not fit the question box.
    std::u16string root = archives_.layout().root();
    while (!root.empty() && (root.back() == u'\\' || root.back() == u'/')) root.pop_back();
    const bool below = opened.link.size() > root.size() + 1 && opened.link.compare(0, root.size(), root) == 0;
    Ask(Text(TextId::kError),
        FormatText(kLinkInClientFolder, below ? opened.link.substr(root.size() + 1) : opened.link), 0);
  } else {
    Ask(Text(TextId::kError), Text(TextId::kArchivesNotOpened), 0);
  }
  SetStatus(TextId::kCheckNeeded);
  window_.SetVersionLine(Text(TextId::kFolderDamaged));
  window_.EnableClose(true);
  Show(ButtonSet::kDamagedFolder);
  return false;
}

ServerVersion UpdateWorkflow::QueryServerVersion(const OperationContext& context) {
  ServerVersion version = archives_.FetchServerVersion(context);
  // A cancelled operation asks nothing more.
  while (!Usable(version) && !context.cancelled()) {
    Log::Error(u"%s", Text(TextId::kServerVersionError));
    window_.ShowCause(version);
    const std::u16string_view question =
        version.outcome == ServerVersion::Outcome::kUnverified ? kUnverifiedRetry : Text(TextId::kServerErrorRetry);
    if (Ask(Text(TextId::kError), question, 0) != kAnswerYes) break;
    version = archives_.FetchServerVersion(context);
  }
  serverVersion_ = Usable(version) ? version.version : -1;
  return version;
}

void UpdateWorkflow::CompareVersions(const OperationContext& context, bool autoUpdate) {
  for (;;) {
    const int32_t local = archives_.ReadLocalVersion();
    const ServerVersion server = QueryServerVersion(context);
    ShowVersionLine(local);
    bool update = false;
    std::optional<Versions> known;
    if (!Usable(server) || local > server.version) {
      ShowServerError();
    } else if (local == server.version) {
      Show(ButtonSet::kReady);
      SetStatus(TextId::kReadyToPlay);
    } else {
      Show(ButtonSet::kUpdateNeeded);
      SetStatus(TextId::kUpdateNeeded);
      // No new step while the workflow is being stopped.
      if (stopping_) {
      } else if (autoUpdate) {
        // The step goes on from the versions just fetched.
        update = true;
        known = Versions{local, server.version};
      } else {
        // After the question the step asks the server again: a release may have come
        // meanwhile, and a change list of it read from an older version would skip changes.
        update = Ask(Text(TextId::kUpdateNeeded), Text(TextId::kUpdateQuestion), kOfferSeconds) == kAnswerYes;
      }
    }
    const StepEnd end = update ? RunUpdateStep(context, false, known) : StepEnd::kStop;
    if (end == StepEnd::kStop) {
      // A cancelled update keeps its "Операция отменена" on show until the program ends.
      if (state_ != WorkflowState::kCancelled) ClearStep();
      return;
    }
    autoUpdate = end == StepEnd::kCompareAndUpdate;
  }
}

void UpdateWorkflow::RunUpdate(const OperationContext& context, bool fullCheck) {
  const StepEnd end = RunUpdateStep(context, fullCheck, std::nullopt);
  if (end != StepEnd::kStop) CompareVersions(context, end == StepEnd::kCompareAndUpdate);
}

UpdateWorkflow::StepEnd UpdateWorkflow::RunUpdateStep(const OperationContext& context, bool fullCheck,
                                                      std::optional<Versions> known) {
  if (stopping_) return StepEnd::kStop;
  const TextId heading = fullCheck ? TextId::kCheckingClient : TextId::kUpdatingClient;
  const TextId stepFormat = fullCheck ? TextId::kCheckingFiles : TextId::kUpdatingFiles;
  const TextId finished = fullCheck ? TextId::kCheckFinished : TextId::kUpdateFinished;

  Log::InfoText(Text(heading));
  stoppedByServer_ = false;
  progress_.ClearItems();
  Show(ButtonSet::kWorking);
  SetStatus(heading);

  Versions versions;
  bool serverKnown = true;
  if (known) {
    versions = *known;
  } else {
    versions.local = archives_.ReadLocalVersion();
    const ServerVersion server = QueryServerVersion(context);
    serverKnown = Usable(server);
    versions.server = serverKnown ? server.version : -1;
  }
  const int32_t local = versions.local;
  const int32_t server = versions.server;
  Log::Info(Text(TextId::kVersionsLog), local, server);
  // A client above its server has no change list to take; a check, which goes by the full
  // list, brings it back to the server's release.
  if (!serverKnown || (local > server && !fullCheck)) {
    ShowServerError();
    return StepEnd::kStop;
  }
  if (stopping_) return StepEnd::kStop;
  if (!fullCheck) {
    if (const std::optional<StepEnd> end = TryPatchUpdate(context, local, server)) return *end;
  }

  SetStep(TextId::kLoadingList);
  ListResult list = FetchList(context, fullCheck, local, server);
  while (!list.loaded()) {
    if (context.cancelled() || list.outcome == ListResult::Outcome::kCancelled) {
      FinishCancel();
      return StepEnd::kStop;
    }
    Log::Error(u"%s", Text(TextId::kListError));
    window_.ShowCause(list);
    if (Ask(Text(TextId::kError), Text(TextId::kListErrorRetry), kListRetrySeconds) != kAnswerYes) {
      ShowServerError();
      return StepEnd::kStop;
    }
    list = FetchList(context, fullCheck, local, server);
  }

  SetStep(stepFormat);
  // A stopping workflow starts no pass.
  if (stopping_) return StepEnd::kStop;
  bool failed = false;
  CheckResult checked = archives_.CheckFiles(context, false);
  if (context.cancelled() || checked.outcome == CheckResult::Outcome::kCancelled) {
    FinishCancel();
    return StepEnd::kStop;
  }
  while (!checked.done()) {
    if (checked.diskFull) {
      Log::Error(u"%s: %s", Text(TextId::kFileError), DiskFullText(*checked.diskFull));
    } else {
      Log::Error(u"%s", Text(TextId::kFileError));
    }
    window_.ShowCause(checked);
    if (Ask(Text(TextId::kError), WriteRetryQuestion(Text(TextId::kFileErrorRetry), checked.diskFull),
            kFileRetrySeconds) != kAnswerYes) {
      failed = true;
      stoppedByServer_ = checked.outcome == CheckResult::Outcome::kDownloadFailed ||
                         checked.outcome == CheckResult::Outcome::kBadPath ||
                         checked.outcome == CheckResult::Outcome::kConflict;
      break;
    }
    checked = archives_.CheckFiles(context, true);
    if (context.cancelled() || checked.outcome == CheckResult::Outcome::kCancelled) {
      FinishCancel();
      return StepEnd::kStop;
    }
  }

  SetStep(TextId::kSavingArchives);
  // Files updated before a failure stay updated.
  const bool saved = Record(context, failed ? std::nullopt : std::optional<int32_t>(list.version), true);
  ClearStep();
  if (saved) Log::InfoText(Text(finished));
  return StepEnd::kCompare;
}

std::optional<UpdateWorkflow::StepEnd> UpdateWorkflow::TryPatchUpdate(const OperationContext& context, int32_t local,
                                                                      int32_t server) {
  // Anything thrown in the patch route leaves the work to the file list.
  try {
    SetStep(TextId::kLoadingPackage);
    const PackageDownload download = archives_.DownloadPatchPackage(context, local, server);
    if (!download.downloaded()) {
      // A cancelled download ends the operation; any other failure leaves the work to
      // the file list.
      if (!context.cancelled() && download.outcome != PackageDownload::Outcome::kCancelled) return std::nullopt;
      FinishCancel();
      return StepEnd::kStop;
    }
    if (stopping_) return StepEnd::kStop;
    SetStep(TextId::kUpdatingFiles);
    const ApplyResult applied = archives_.ApplyPackage(context, archives_.layout().packageFile(), download.to);
    if (context.cancelled()) {
      FinishCancel();
      return StepEnd::kStop;
    }
    // A package not applied in full records no version: the file list repairs the client.
    if (!applied.applied()) {
      Log::Error(u"Update package %d-%d not applied: %s", download.from, download.to,
                 ApplyOutcomeText(applied.outcome));
      return std::nullopt;
    }
    SetStep(TextId::kSavingArchives);
    // Intermediate steps of a chain of packages are saved with the last one.
    const bool saved = Record(context, download.to, download.to == server);
    ClearStep();
    // Not saved: the user was told about the disk; the update is offered again.
    if (!saved) return StepEnd::kCompare;
    Log::InfoText(Text(TextId::kUpdateFinished));
    return StepEnd::kCompareAndUpdate;
  } catch (const std::exception& error) {
    Log::Error(u"Update package route failed: %s", platform::Utf16FromUtf8(error.what()));
    return std::nullopt;
  }
}

void UpdateWorkflow::RunManualUpdate(const OperationContext& context, bool offline) {
  std::u16string path = manualPackagePath();
  ApplyResult result;
  // A retry runs on this worker again, so the closing steps run once, after the last try.
  for (;;) {
    if (stopping_) return;
    Log::InfoText(Text(TextId::kUpdatingClient));
    Show(ButtonSet::kWorking);
    SetStatus(TextId::kUpdatingClient);
    SetStep(TextId::kUpdatingFiles);
    const ServerProtocol::PackageCheck check = archives_.CheckPackageFile(context, path);
    if (context.cancelled()) {
      FinishCancel();
      return;
    }
    if (check == ServerProtocol::PackageCheck::kNotListed ||
        (check == ServerProtocol::PackageCheck::kNoManifest &&
         Ask(kManualErrorTitle, kManualUnchecked, 0) != kAnswerYes)) {
      result = ApplyResult{};
      result.outcome = ApplyResult::Outcome::kUnverified;
      result.package = path;
      window_.ShowCause(result);
      if (check == ServerProtocol::PackageCheck::kNotListed && window_.CanChooseFiles() &&
          Ask(kManualErrorTitle, kManualNotSigned, 0) == kAnswerYes && window_.ChooseManualPackage(path)) {
        SetManualPackagePath(path);
        continue;
      }
      break;
    }
    result = archives_.ApplyPackage(context, path);
    if (context.cancelled()) {
      FinishCancel();
      return;
    }
    if (result.wrongFile()) {
      window_.ShowCause(result);
      const std::u16string_view question = result.outcome == ApplyResult::Outcome::kVersionTooLow ? kManualVersionTooLow
                                           : result.outcome == ApplyResult::Outcome::kNotNewer    ? kManualNotNewer
                                                                                                  : kManualCannotOpen;
      if (window_.CanChooseFiles() && Ask(kManualErrorTitle, question, 0) == kAnswerYes &&
          window_.ChooseManualPackage(path)) {
        SetManualPackagePath(path);
        continue;
      }
    } else if (result.writeFailed()) {
      if (!AskAfterFailedWrite(result, result.shortage())) break;
      continue;
    }
    break;
  }
  SetStep(TextId::kSavingArchives);
  const bool saved = Record(context, std::nullopt, true);
  ClearStep();
  if (saved) Log::InfoText(Text(TextId::kUpdateFinished));
  if (offline) {
    EndOffline(result, saved);
  } else {
    CompareVersions(context, false);
  }
}

void UpdateWorkflow::EndOffline(const ApplyResult& result, bool saved) {
  ShowVersionLine(archives_.ReadLocalVersion());
  if (result.applied() && saved) {
    SetStatus(TextId::kUpdateFinished);
    state_ = WorkflowState::kPackageApplied;
  } else if (result.outcome == ApplyResult::Outcome::kCannotOpen || result.outcome == ApplyResult::Outcome::kDamaged) {
    state_ = WorkflowState::kPackageRefused;
  } else {
    state_ = WorkflowState::kPackageNotApplied;
  }
}

bool UpdateWorkflow::Record(const OperationContext& context, std::optional<int32_t> version, bool save) {
  for (;;) {
    const WriteResult stored = version ? archives_.WriteLocalVersion(*version) : WriteResult{};
    // Saved also after a failure: the files updated so far stay updated.
    const WriteResult saved = save ? archives_.SaveArchives(context) : WriteResult{};
    if (stored.written() && saved.written()) return true;
    // The engine has logged which archive or file could not be written.
    const WriteResult& failed = stored.written() ? saved : stored;
    if (!AskAfterFailedWrite(failed, failed.diskFull)) return false;
  }
}

bool UpdateWorkflow::AskAfterFailedWrite(const FailureCause& cause, const std::optional<DiskShortage>& diskFull) {
  if (diskFull) Log::Error(u"%s: %s", Text(TextId::kFileError), DiskFullText(*diskFull));
  window_.ShowCause(cause);
  return Ask(kManualErrorTitle, WriteRetryQuestion(kManualWriteFailed, diskFull), kManualRetrySeconds) == kAnswerYes;
}

void UpdateWorkflow::FinishCancel() {
  Log::InfoText(Text(TextId::kOperationCancelled));
  ClearStep();
  SetStep(TextId::kOperationCancelled);
  state_ = WorkflowState::kCancelled;
  archives_.WaitUntilIdle();
}

int UpdateWorkflow::Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) {
  if (stopping_) return kAnswerNo;
  return window_.Ask(firstLine, secondLine, seconds);
}

void UpdateWorkflow::Show(ButtonSet set) {
  window_.ApplyButtons(set);
  switch (set) {
    case ButtonSet::kWorking:
      state_ = WorkflowState::kWorking;
      break;
    case ButtonSet::kReady:
      state_ = WorkflowState::kReady;
      break;
    case ButtonSet::kUpdateNeeded:
      state_ = WorkflowState::kUpdateNeeded;
      break;
    case ButtonSet::kServerError:
      state_ = WorkflowState::kServerError;
      break;
    case ButtonSet::kDamagedFolder:
      state_ = WorkflowState::kDamagedFolder;
      break;
  }
}

void UpdateWorkflow::SetStatus(TextId id) {
  window_.SetStatus(Text(id));
}

void UpdateWorkflow::SetStep(TextId id) {
  window_.SetStepFormat(Text(id));
}

void UpdateWorkflow::ClearStep() {
  window_.SetStepFormat(u"");
}

void UpdateWorkflow::ShowVersionLine(int32_t local) {
  window_.SetVersionLine(FormatText(u"%s%d", Text(TextId::kClientVersion), local));
}

ListResult UpdateWorkflow::FetchList(const OperationContext& context, bool fullCheck, int32_t local, int32_t server) {
  if (!fullCheck && local != 0) return archives_.GetList(context, local, server);
  return archives_.GetFullList(context, server);
}

void UpdateWorkflow::ShowServerError() {
  Show(ButtonSet::kServerError);
  SetStatus(TextId::kServerError);
}
