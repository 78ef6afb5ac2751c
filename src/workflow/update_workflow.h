#pragma once
// The updater's workflow: open the archives, compare the client's version with the
// server's, update (through an update package, else file by file), check the whole client,
// apply an update package picked by hand, and cancel. It decides the texts, button sets, questions and
// retries; the window only shows them.
//
// Operations run on worker threads that the workflow owns and joins: Stop (also run by
// the destructor) ends them before the archive set and the window may go. Each
// operation the user starts gets a cancel token of its own, which its workers (a retry
// included) give to the archive set; Cancel and Stop set it, and nothing clears it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "net/cancel_token.h"
#include "workflow/button_sets.h"
#include "workflow/string_table.h"
#include "workflow/worker_threads.h"
#include "workflow/workflow_window.h"

class ClientArchiveSet;

// Where the workflow stands, as its button sets and labels show it.
enum class WorkflowState { kStarting, kWorking, kDamagedFolder, kUpdateNeeded, kReady, kServerError, kCancelled };

class UpdateWorkflow {
 public:
  // Seconds of the count-downs.
  static constexpr int kOfferSeconds = 10;
  static constexpr int kListRetrySeconds = 5;
  static constexpr int kFileRetrySeconds = 3;
  static constexpr int kManualRetrySeconds = 10;

  // Both must outlive the workflow.
  UpdateWorkflow(ClientArchiveSet& archives, WorkflowWindow& window);
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
  // The check button: asks for confirmation, then starts the check.
  bool ConfirmCheck();
  // The close button: true when the program may end now. While a pass runs it asks
  // first and, on yes, cancels the pass and waits until it has stopped.
  bool RequestClose();
  // Cancels the running operation without asking (a console's Ctrl+C) and waits until
  // its pass or download has stopped.
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
  // What QueryServerVersion returned last: the server version, negative when it could
  // not be fetched, or when none was asked for yet.
  int32_t serverVersion() const { return serverVersion_.load(); }
  std::u16string manualPackagePath() const;

  // The thread entries: what each worker runs. Each returns 0; anything thrown inside is
  // logged and ends the operation in the Server error state.
  int StartupThread();
  int UpdateThread();
  int CheckThread();
  int ManualUpdateThread();

  // The operations, run on the calling thread.
  bool LoadArchives();
  int32_t QueryServerVersion();
  void CompareVersions(bool autoUpdate);
  void RunUpdate(bool fullCheck);
  bool TryPatchUpdate(int32_t local, int32_t server);
  void RunManualUpdate();
  void FinishCancel();

 private:
  // One pass of RunUpdate; a package step that leaves the client behind asks for the next.
  void RunUpdateStep(bool fullCheck);
  // Stores the version in the archives (none: only the files) and, with `save`, saves them
  // and the version file. When a write fails (a full disk) the user is asked about disk
  // space, and yes tries again. False when it stayed failed: no version is recorded then.
  bool Record(std::optional<int32_t> version, bool save);
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds);
  void Show(ButtonSet set);
  void SetStatus(TextId id);
  void SetStep(TextId id);
  void ClearStep();
  // "list_" from local to server, or the full list for a check or an unknown local version.
  int32_t FetchList(bool fullCheck, int32_t local, int32_t server);
  void ShowServerError();

  // A fresh token for an operation the user starts, and the current one.
  std::shared_ptr<CancelToken> NewOperation();
  std::shared_ptr<CancelToken> CurrentOperation();
  // Runs a thread entry on a new worker that first hands `token` to the archive set.
  bool StartWorker(std::shared_ptr<CancelToken> token, int (UpdateWorkflow::*entry)());
  // The manual update's retry: the same operation, so the same token.
  bool StartManualRetry(const std::u16string& packagePath);
  void Guarded(const std::function<void()>& work);
  void ReportFailure(const char* what);

  ClientArchiveSet& archives_;
  WorkflowWindow& window_;
  std::mutex tokenMutex_;
  std::shared_ptr<CancelToken> token_ = std::make_shared<CancelToken>();
  std::atomic<WorkflowState> state_{WorkflowState::kStarting};
  std::atomic<bool> stopping_{false};
  // Nesting of RunUpdate, and whether a chain of packages asked for its next step. Used
  // by the one worker that runs the update.
  int updateDepth_ = 0;
  bool nextUpdateStep_ = false;
  std::atomic<int32_t> serverVersion_{-1};
  mutable std::mutex manualMutex_;
  std::u16string manualPackagePath_;
  // Last: joined first when the workflow is destroyed.
  WorkerThreads workers_;
};
