#pragma once
// One run of the updater's window: the main window, the engine (the client archive set of the
// updater's program folder), the update workflow and the progress display, built together and
// ended together. It does what the window's buttons ask: the operations through the workflow,
// Play and the graphics switch here.

#include <cstdint>
#include <memory>
#include <string>

#include "base/progress_counters.h"
#include "engine/client_archive_set.h"
#include "engine/client_layout.h"
#include "net/update_server_address.h"
#include "workflow/main_form.h"

namespace Ormel {
class Backend;
}
class Desktop;
class MessageBoxTimer;
class ProgressThread;
class UpdateWorkflow;

class UpdaterSession : public MainFormActions {
 public:
  struct Settings {
    // The folder of the updater's program file: the client archive set goes from it.
    std::u16string programFolder;
    // The working folder: the game client and the graphics switch go from it.
    std::u16string workingFolder;
    std::vector<UpdateServerAddress> servers;
    std::string mainSkinPath = MainForm::kSkinPath;
  };

  // Builds the hidden window, then starts the start-up worker and the progress display.
  // Everything given must outlive the session.
  UpdaterSession(Ormel::Backend& backend, MessageBoxTimer& questions, Desktop& desktop, const Settings& settings);
  // Stops every worker and the progress display, closes the archives, logs the end.
  ~UpdaterSession() override;
  UpdaterSession(const UpdaterSession&) = delete;
  UpdaterSession& operator=(const UpdaterSession&) = delete;

  MainForm& form() { return *form_; }
  UpdateWorkflow& workflow() { return *workflow_; }
  ClientArchiveSet& archives() { return *archives_; }
  // The graphics switch as stored (created holding 0 when missing), shown on the window and
  // written back.
  void ShowStoredGraphicsSwitch();
  // The updater's own version: the number in its version file (created holding 0 when
  // missing), and the one the update server expects (-1 when it could not be fetched).
  int32_t LocalPatcherVersion();
  int32_t ServerPatcherVersion();

  // The window's buttons.
  void Close(bool questionOpen) override;
  void Play() override;
  void Check() override;
  void Update() override;
  void ManualUpdate() override;
  void SetGraphicsSwitch(bool on) override;
  void WindowDestroyed() override;

 private:
  // A close once the user agreed: the running pass is told to stop, "Операция отменена" is
  // shown, and the loop ends; the end (StopWork) waits for the workers.
  void CloseNow();
  // Stops the workers and the progress display, keeping the messages flowing meanwhile.
  void StopWork();

  Desktop& desktop_;
  const ClientLayout working_;
  bool graphicsSwitch_ = false;
  // UI thread only: the end has begun; a Play click is being handled.
  bool stopped_ = false;
  bool playing_ = false;

  std::unique_ptr<MainForm> form_;
  ProgressCounters progress_;
  std::unique_ptr<ClientArchiveSet> archives_;
  std::unique_ptr<UpdateWorkflow> workflow_;
  std::unique_ptr<ProgressThread> progressThread_;
};
