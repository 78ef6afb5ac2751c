#include "workflow/update_workflow.h"

#include <chrono>
#include <exception>
#include <thread>

#include "base/log.h"
#include "base/text_format.h"
#include "engine/client_archive_set.h"
#include "platform/text.h"

UpdateWorkflow::UpdateWorkflow(ClientArchiveSet& archives, WorkflowWindow& window)
    : archives_(archives), window_(window) {}

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
  {
    std::lock_guard<std::mutex> lock(manualMutex_);
    manualPackagePath_ = packagePath;
  }
  return StartWorker(NewOperation(), &UpdateWorkflow::ManualUpdateThread);
}

bool UpdateWorkflow::StartManualRetry(const std::u16string& packagePath) {
  {
    std::lock_guard<std::mutex> lock(manualMutex_);
    manualPackagePath_ = packagePath;
  }
  return StartWorker(CurrentOperation(), &UpdateWorkflow::ManualUpdateThread);
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

bool UpdateWorkflow::StartWorker(std::shared_ptr<CancelToken> token, int (UpdateWorkflow::*entry)()) {
  return workers_.Start([this, token = std::move(token), entry] {
    archives_.cancelToken = token;
    (this->*entry)();
  });
}

bool UpdateWorkflow::ConfirmCheck() {
  if (Ask(Text(TextId::kConfirmAction), Text(TextId::kCheckQuestion), 0) != kAnswerYes) return false;
  return StartCheck();
}

bool UpdateWorkflow::RequestClose() {
  if (!archives_.busy) return true;
  if (Ask(Text(TextId::kUpdateNotFinished), Text(TextId::kCancelQuestion), 0) != kAnswerYes) return false;
  Cancel();
  return true;
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

int UpdateWorkflow::StartupThread() {
  Guarded([this] {
    if (LoadArchives()) {
      ClearStep();
      CompareVersions(false);
    }
  });
  return 0;
}

int UpdateWorkflow::UpdateThread() {
  Guarded([this] { RunUpdate(false); });
  return 0;
}

int UpdateWorkflow::CheckThread() {
  Guarded([this] { RunUpdate(true); });
  return 0;
}

int UpdateWorkflow::ManualUpdateThread() {
  Guarded([this] { RunManualUpdate(); });
  return 0;
}

void UpdateWorkflow::Guarded(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& error) {
    ReportFailure(error.what());
  } catch (...) {
    ReportFailure("unknown exception");
  }
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

bool UpdateWorkflow::LoadArchives() {
  window_.EnableClose(false);
  Show(ButtonSet::kWorking);
  if (archives_.OpenArchives()) {
    window_.EnableClose(true);
    return true;
  }
  Log::Error(u"%s", Text(TextId::kFolderDamaged));
  Ask(Text(TextId::kError), Text(TextId::kArchivesNotOpened), 0);
  SetStatus(TextId::kCheckNeeded);
  window_.SetVersionLine(Text(TextId::kFolderDamaged));
  window_.EnableClose(true);
  Show(ButtonSet::kDamagedFolder);
  return false;
}

int32_t UpdateWorkflow::QueryServerVersion() {
  int32_t version = archives_.FetchServerVersion();
  // A cancelled operation asks nothing more.
  while (version < 0 && !archives_.cancelRequested()) {
    Log::Error(u"%s", Text(TextId::kServerVersionError));
    if (Ask(Text(TextId::kError), Text(TextId::kServerErrorRetry), 0) != kAnswerYes) break;
    version = archives_.FetchServerVersion();
  }
  serverVersion_ = version;
  return version;
}

void UpdateWorkflow::CompareVersions(bool autoUpdate) {
  const int32_t local = archives_.ReadLocalVersion();
  const int32_t server = QueryServerVersion();
  window_.SetVersionLine(FormatText(u"%s%d", Text(TextId::kClientVersion), local));
  if (local < server) {
    Show(ButtonSet::kUpdateNeeded);
    SetStatus(TextId::kUpdateNeeded);
    if (stopping_) {
      // No new step while the workflow is being stopped.
    } else if (autoUpdate && updateDepth_ > 0) {
      // The next step of a chain of packages: the update under way runs it once this step
      // has returned, so a long chain never nests one call deeper per step.
      nextUpdateStep_ = true;
    } else if (autoUpdate ||
               Ask(Text(TextId::kUpdateNeeded), Text(TextId::kUpdateQuestion), kOfferSeconds) == kAnswerYes) {
      RunUpdate(false);
    }
  } else if (local == server) {
    Show(ButtonSet::kReady);
    SetStatus(TextId::kReadyToPlay);
  } else {
    ShowServerError();
  }
  // A cancelled update keeps its "Операция отменена" on show until the program ends.
  if (state_ != WorkflowState::kCancelled) ClearStep();
}

void UpdateWorkflow::RunUpdate(bool fullCheck) {
  ++updateDepth_;
  do {
    nextUpdateStep_ = false;
    RunUpdateStep(fullCheck);
  } while (nextUpdateStep_ && !stopping_);
  --updateDepth_;
}

void UpdateWorkflow::RunUpdateStep(bool fullCheck) {
  if (stopping_) return;
  const TextId heading = fullCheck ? TextId::kCheckingClient : TextId::kUpdatingClient;
  const TextId stepFormat = fullCheck ? TextId::kCheckingFiles : TextId::kUpdatingFiles;
  const TextId finished = fullCheck ? TextId::kCheckFinished : TextId::kUpdateFinished;

  Log::InfoText(Text(heading));
  archives_.itemsTotal = 0;
  archives_.itemsDone = 0;
  Show(ButtonSet::kWorking);
  SetStatus(heading);

  const int32_t local = archives_.ReadLocalVersion();
  const int32_t server = QueryServerVersion();
  Log::Info(Text(TextId::kVersionsLog), local, server);
  if (local > server) {
    ShowServerError();
    return;
  }
  if (stopping_) return;
  if (!fullCheck && TryPatchUpdate(local, server)) return;

  SetStep(TextId::kLoadingList);
  int32_t target = FetchList(fullCheck, local, server);
  while (target < 0) {
    if (archives_.cancelRequested()) {
      FinishCancel();
      return;
    }
    Log::Error(u"%s", Text(TextId::kListError));
    if (Ask(Text(TextId::kError), Text(TextId::kListErrorRetry), kListRetrySeconds) != kAnswerYes) {
      ShowServerError();
      return;
    }
    target = FetchList(fullCheck, local, server);
  }

  SetStep(stepFormat);
  bool failed = false;
  // A stopping workflow starts no pass.
  if (stopping_) return;
  int32_t result = archives_.CheckFiles(false);
  if (archives_.cancelRequested()) {
    FinishCancel();
    return;
  }
  while (result != 0) {
    Log::Error(u"%s", Text(TextId::kFileError));
    if (Ask(Text(TextId::kError), Text(TextId::kFileErrorRetry), kFileRetrySeconds) != kAnswerYes) {
      failed = true;
      break;
    }
    result = archives_.CheckFiles(true);
    if (archives_.cancelRequested()) {
      FinishCancel();
      return;
    }
  }

  SetStep(TextId::kSavingArchives);
  // Files updated before a failure stay updated.
  const bool saved = Record(failed ? std::nullopt : std::optional<int32_t>(target), true);
  ClearStep();
  if (saved) Log::InfoText(Text(finished));
  CompareVersions(false);
}

bool UpdateWorkflow::TryPatchUpdate(int32_t local, int32_t server) {
  // Anything thrown in the patch route leaves the work to the file list.
  try {
    SetStep(TextId::kLoadingPackage);
    int32_t from = -1;
    int32_t to = -1;
    if (!archives_.DownloadPatchPackage(local, server, from, to)) {
      // A cancelled download ends the operation; any other failure leaves the work to
      // the file list.
      if (!archives_.cancelRequested()) return false;
      FinishCancel();
      return true;
    }
    if (stopping_) return true;
    SetStep(TextId::kUpdatingFiles);
    const int32_t applied = archives_.ApplyPackage(archives_.tempFilePath);
    if (archives_.cancelRequested()) {
      FinishCancel();
      return true;
    }
    // A package not applied in full records no version: the file list repairs the client.
    if (applied != 0) {
      Log::Error(u"Update package %d-%d not applied (%d)", from, to, applied);
      return false;
    }
    SetStep(TextId::kSavingArchives);
    // Intermediate steps of a chain of packages are saved with the last one.
    const bool saved = Record(to, to == server);
    ClearStep();
    if (!saved) {
      // The user was told about the disk; the update is offered again.
      CompareVersions(false);
      return true;
    }
    Log::InfoText(Text(TextId::kUpdateFinished));
    CompareVersions(true);
    return true;
  } catch (const std::exception& error) {
    Log::Error(u"Update package route failed: %s", platform::Utf16FromUtf8(error.what()));
    return false;
  }
}

void UpdateWorkflow::RunManualUpdate() {
  if (stopping_) return;
  Log::InfoText(Text(TextId::kUpdatingClient));
  Show(ButtonSet::kWorking);
  SetStatus(TextId::kUpdatingClient);
  SetStep(TextId::kUpdatingFiles);
  std::u16string path = manualPackagePath();
  const int32_t result = archives_.ApplyPackage(path);

  // A retry starts a new worker and this one ends at once: the retry does its own closing
  // steps, so two never work on the archives together.
  if (result == -1 || result == -2) {
    if (Ask(kManualErrorTitle, result == -1 ? kManualCannotOpen : kManualVersionTooLow, 0) == kAnswerYes &&
        window_.ChooseManualPackage(path) && StartManualRetry(path))
      return;
  } else if (result == -3 || result == -4) {
    if (Ask(kManualErrorTitle, kManualWriteFailed, kManualRetrySeconds) == kAnswerYes && StartManualRetry(path)) return;
  }
  if (archives_.cancelRequested()) {
    FinishCancel();
    return;
  }
  SetStep(TextId::kSavingArchives);
  const bool saved = Record(std::nullopt, true);
  ClearStep();
  if (saved) Log::InfoText(Text(TextId::kUpdateFinished));
  CompareVersions(false);
}

bool UpdateWorkflow::Record(std::optional<int32_t> version, bool save) {
  for (;;) {
    const bool stored = !version || archives_.WriteLocalVersion(*version);
    // Saved also after a failure: the files updated so far stay updated.
    const bool saved = !save || archives_.SaveArchives();
    if (stored && saved) return true;
    // The engine has logged which archive or file could not be written.
    if (Ask(kManualErrorTitle, kManualWriteFailed, kManualRetrySeconds) != kAnswerYes) return false;
  }
}

void UpdateWorkflow::FinishCancel() {
  Log::InfoText(Text(TextId::kOperationCancelled));
  ClearStep();
  SetStep(TextId::kOperationCancelled);
  state_ = WorkflowState::kCancelled;
  while (archives_.busy) std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

int32_t UpdateWorkflow::FetchList(bool fullCheck, int32_t local, int32_t server) {
  if (!fullCheck && local != 0) return archives_.GetList(local, server);
  return archives_.GetFullList();
}

void UpdateWorkflow::ShowServerError() {
  Show(ButtonSet::kServerError);
  SetStatus(TextId::kServerError);
}
