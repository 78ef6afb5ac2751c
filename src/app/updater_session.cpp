#include "app/updater_session.h"

#include "app/game_launch.h"
#include "base/log.h"
#include "base/number_file.h"
#include "workflow/message_box_timer.h"
#include "workflow/progress_thread.h"
#include "workflow/string_table.h"
#include "workflow/update_workflow.h"

UpdaterSession::UpdaterSession(Ormel::Backend& backend, MessageBoxTimer& questions, Desktop& desktop,
                               const Settings& settings)
    : desktop_(desktop), working_(settings.workingFolder) {
  form_ = std::make_unique<MainForm>(backend, questions, desktop, settings.mainSkinPath);
  Log::Write(u"");
  Log::InfoText(Text(TextId::kPatcherStarted));
  archives_ = std::make_unique<ClientArchiveSet>(ClientLayout(settings.programFolder), settings.servers);
  workflow_ = std::make_unique<UpdateWorkflow>(*archives_, *form_, progress_);
  form_->SetActions(this);
  workflow_->StartStartup();
  progressThread_ = std::make_unique<ProgressThread>(progress_, *form_);
}

UpdaterSession::~UpdaterSession() {
  StopWork();
  form_->SetActions(nullptr);
  // The work has stopped: the window goes from the screen now, not after the toolkit's
  // teardown (the browser pane alone takes seconds there).
  form_->Hide();
  archives_->CloseArchives();
  progressThread_.reset();
  workflow_.reset();
  archives_.reset();
  Log::InfoText(Text(TextId::kPatcherClosed));
}

void UpdaterSession::ShowStoredGraphicsSwitch() {
  graphicsSwitch_ = ReadGraphicsSwitch(working_);
  form_->ShowGraphicsSwitch(graphicsSwitch_);
  WriteGraphicsSwitch(working_, graphicsSwitch_);
}

int32_t UpdaterSession::LocalPatcherVersion() {
  return ReadOrCreateNumberFile(archives_->layout().patcherVersionFile());
}

int32_t UpdaterSession::ServerPatcherVersion() {
  return archives_->server().FetchPatcherVersion(OperationContext(nullptr, progress_));
}

void UpdaterSession::Close(bool questionOpen) {
  if (form_->closing()) return;
  if (!questionOpen) {
    if (!workflow_->ConfirmClose()) return;
    // The question may have ended because the window was closed meanwhile.
    if (form_->closing()) return;
  }
  CloseNow();
}

void UpdaterSession::CloseNow() {
  form_->BeginClosing();
  form_->AnswerOpenQuestionNo();
  // The pass stops between two items; until then the window keeps painting.
  if (archives_->busy()) form_->WaitWhileDispatching([this] { workflow_->CancelPass(); });
  form_->Quit();
}

void UpdaterSession::StopWork() {
  if (stopped_) return;
  stopped_ = true;
  form_->BeginClosing();
  form_->WaitWhileDispatching([this] {
    workflow_->Stop();
    progressThread_->Stop();
  });
}

void UpdaterSession::Play() {
  if (form_->closing() || playing_) return;
  playing_ = true;
  // Play is enabled as soon as an operation has shown its result; its worker may still be
  // writing its last texts. The archives close only once no worker is left.
  form_->WaitWhileDispatching([this] { workflow_->WaitForWorkers(); });
  archives_->CloseArchives();
  if (StartGameClient(desktop_, archives_->layout(), graphicsSwitch_)) {
    form_->BeginClosing();
    form_->Quit();
  } else {
    // The client did not start: the archives are opened again (and the versions compared),
    // so that a later check or update finds them open.
    workflow_->StartStartup();
  }
  playing_ = false;
}

void UpdaterSession::Check() {
  if (form_->closing()) return;
  workflow_->ConfirmCheck();
}

void UpdaterSession::Update() {
  if (form_->closing()) return;
  workflow_->StartUpdate();
}

void UpdaterSession::ManualUpdate() {
  if (form_->closing()) return;
  std::u16string path = workflow_->manualPackagePath();
  if (!form_->ChooseManualPackage(path)) return;
  workflow_->StartManualUpdate(path);
}

void UpdaterSession::SetGraphicsSwitch(bool on) {
  form_->ShowGraphicsSwitch(on);
  WriteGraphicsSwitch(working_, on);
  graphicsSwitch_ = on;
}

void UpdaterSession::WindowDestroyed() {
  StopWork();
  archives_->CloseArchives();
}
