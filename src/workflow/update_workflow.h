#pragma once
// The updater's workflow: open the archives, compare the client's version with the
// server's, update (through an update package, else file by file), check the whole client,
// apply an update package picked by hand, and cancel. It decides the texts, button sets,
// questions and retries; the window only shows them. The window and the console updater run
// the same workflow.
//
// Operations run on worker threads that the workflow owns and joins: Stop (also run by
// the destructor) ends them before the archive set and the window may go. Each
// operation the user starts gets a cancel token of its own, which its worker hands to every
// engine operation it runs; Cancel and Stop set it, and nothing clears it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/cancel_token.h"
#include "base/operation_context.h"
#include "base/progress_sink.h"
#include "workflow/button_sets.h"
#include "workflow/string_table.h"
#include "workflow/worker_threads.h"
#include "workflow/workflow_window.h"

class ClientArchiveSet;

// Where the workflow stands, as its button sets and labels show it.
enum class WorkflowState {
  kStarting,
  kWorking,
  kDamagedFolder,
  kUpdateNeeded,
  kReady,
  kServerError,
  kCancelled,
  // How an apply without the server ended: the package applied and saved; not applied (or
  // not saved); refused as no update package at all.
  kPackageApplied,
  kPackageNotApplied,
  kPackageRefused,
};

class UpdateWorkflow {
 public:
  // Seconds of the count-downs.
  static constexpr int kOfferSeconds = 10;
  static constexpr int kListRetrySeconds = 5;
  static constexpr int kFileRetrySeconds = 3;
  static constexpr int kManualRetrySeconds = 10;

  // All must outlive the workflow; `progress` receives the progress of every operation.
  UpdateWorkflow(ClientArchiveSet& archives, WorkflowWindow& window, ProgressSink& progress);
  ~UpdateWorkflow();
  UpdateWorkflow(const UpdateWorkflow&) = delete;
  UpdateWorkflow& operator=(const UpdateWorkflow&) = delete;

  // "Подготовка к запуску..." and "Чтение архивов: %d%%": what the window shows before
  // the archives are opened.
  void ShowPreparing();
  // Starting operations on workers, as the window's constructor and buttons do. False
  // once the workflow is stopping. StartStartup shows the preparing texts first.
  bool StartStartup();
  bool StartUpdate();
  bool StartCheck();
  bool StartManualUpdate(const std::u16string& packagePath);
  // The archives opened and the package applied as the manual update does, ending with the
  // local version instead of the server's: nothing goes over the network.
  bool StartOfflineApply(const std::u16string& packagePath);
  // The check button: asks for confirmation, then starts the check.
  bool ConfirmCheck();
  // The archives opened on the calling thread, as the start-up does; false for a damaged
  // folder (then shown).
  bool LoadArchives();

  // The close button: true when the program may end now. While a pass or a package runs it
  // asks first.
  bool ConfirmClose();
  // Cancels the running pass or package (the close button once confirmed, a console's
  // Ctrl+C) and waits until it has stopped; nothing when none runs.
  void CancelPass();
  // Cancels the running operation without asking and waits until its pass or download has
  // stopped, showing "Операция отменена".
  void Cancel();
  // True while an operation runs on a worker.
  bool Running() { return workers_.Running(); }
  // Waits until every worker has ended.
  void WaitForWorkers();
  // Ends the running operation early: a running pass is cancelled, further questions are
  // answered no without being asked, no new step or worker starts; returns once every
  // worker has ended.
  void Stop();

  WorkflowState state() const { return state_.load(); }
  // Whether the last update or check stopped at a file the server did not serve right (a
  // download that failed or did not match its list, a list that names a file it cannot):
  // the client still needs the update, through the server's fault.
  bool stoppedByServer() const { return stoppedByServer_.load(); }
  // What the last version query gave: the server version, negative when it could not be
  // fetched, or when none was asked for yet.
  int32_t serverVersion() const { return serverVersion_.load(); }
  std::u16string manualPackagePath() const;

 private:
  // What follows an update step: nothing (an error or a cancel is shown), a comparison, or a
  // comparison that goes on with the next step without asking (a chain of packages).
  enum class StepEnd { kStop, kCompare, kCompareAndUpdate };
  struct Versions {
    int32_t local = 0;
    int32_t server = 0;
  };
  using Entry = void (UpdateWorkflow::*)(const OperationContext& context);

  // The thread entries: what each worker runs.
  void StartupThread(const OperationContext& context);
  void UpdateThread(const OperationContext& context);
  void CheckThread(const OperationContext& context);
  void ManualUpdateThread(const OperationContext& context);
  void OfflineApplyThread(const OperationContext& context);

  // The operations.
  bool LoadArchives(const OperationContext& context);
  ServerVersion QueryServerVersion(const OperationContext& context);
  // Compares the versions and shows what they call for; while they call for an update (the
  // answer to the offer, or `autoUpdate`) the update step runs and the comparison follows
  // it, one loop however long a chain of packages is.
  void CompareVersions(const OperationContext& context, bool autoUpdate);
  // An update step and the comparisons that follow it: the update (false) or the check (true).
  void RunUpdate(const OperationContext& context, bool fullCheck);
  // One pass of the update or check. `known`: the versions the comparison just fetched; none
  // fetches them (after a question, or started by a button).
  StepEnd RunUpdateStep(const OperationContext& context, bool fullCheck, std::optional<Versions> known);
  // None when the update package route did not handle the step: the file list then does.
  std::optional<StepEnd> TryPatchUpdate(const OperationContext& context, int32_t local, int32_t server);
  // The manual update of the package the workflow holds; it ends with a comparison, or
  // (offline) with the local version alone.
  void RunManualUpdate(const OperationContext& context, bool offline);
  void FinishCancel();

  // Stores the version in the archives (none: only the files) and, with `save`, saves them
  // and the version file. When a write fails (a full disk) the user is asked about disk
  // space, and yes tries again. False when it stayed failed: no version is recorded then.
  bool Record(const OperationContext& context, std::optional<int32_t> version, bool save);
  // After a write into the client failed: shows the cause and asks to retry, saying so when
  // the disk had no room; true for yes.
  bool AskAfterFailedWrite(const FailureCause& cause, const std::optional<DiskShortage>& diskFull);
  // "list_" from local to server, or the full list for a check or an unknown local version.
  ListResult FetchList(const OperationContext& context, bool fullCheck, int32_t local, int32_t server);
  void EndOffline(const ApplyResult& result, bool saved);
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds);
  void Show(ButtonSet set);
  void SetStatus(TextId id);
  void SetStep(TextId id);
  void ClearStep();
  void ShowVersionLine(int32_t local);
  void ShowServerError();

  // A fresh token for an operation the user starts, and the current one.
  std::shared_ptr<CancelToken> NewOperation();
  std::shared_ptr<CancelToken> CurrentOperation();
  // Runs a thread entry on a new worker with `token` in its context. Anything thrown inside
  // is logged and ends the operation in the Server error state.
  bool StartWorker(std::shared_ptr<CancelToken> token, Entry entry);
  void SetManualPackagePath(const std::u16string& path);
  void ReportFailure(const char* what);

  ClientArchiveSet& archives_;
  WorkflowWindow& window_;
  ProgressSink& progress_;
  std::mutex tokenMutex_;
  std::shared_ptr<CancelToken> token_ = std::make_shared<CancelToken>();
  std::atomic<WorkflowState> state_{WorkflowState::kStarting};
  std::atomic<bool> stopping_{false};
  std::atomic<int32_t> serverVersion_{-1};
  std::atomic<bool> stoppedByServer_{false};
  mutable std::mutex manualMutex_;
  std::u16string manualPackagePath_;
  // Last: joined first when the workflow is destroyed.
  WorkerThreads workers_;
};
