#pragma once
// The updater's workflow: open the archives, compare the client's version with the
// server's, update (through a patch package, else file by file), check the whole client,
// apply a manual package, and cancel. It decides the texts, button sets, questions and
// retries; the window only shows them.
//
// Operations run on worker threads that the workflow owns and joins: Stop (also run by
// the destructor) ends them before the archive set and the window may go.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

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
  // Cancels the running pass without asking (a console's Ctrl+C) and waits until it stopped.
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

  // The thread entries: what each worker runs. Each returns 0.
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
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds);
  void Show(ButtonSet set);
  void SetStatus(TextId id);
  void SetStep(TextId id);
  void ClearStep();
  // "list_" from local to server, or the full list for a check or an unknown local version.
  int32_t FetchList(bool fullCheck, int32_t local, int32_t server);
  void ShowServerError();

  ClientArchiveSet& archives_;
  WorkflowWindow& window_;
  std::atomic<WorkflowState> state_{WorkflowState::kStarting};
  std::atomic<bool> stopping_{false};
  std::atomic<int32_t> serverVersion_{-1};
  mutable std::mutex manualMutex_;
  std::u16string manualPackagePath_;
  // Last: joined first when the workflow is destroyed.
  WorkerThreads workers_;
};
