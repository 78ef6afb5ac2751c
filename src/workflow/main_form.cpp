#include "workflow/main_form.h"

#include <chrono>
#include <optional>
#include <thread>

#include "app/desktop.h"
#include "base/log.h"
#include "engine/client_archive_set.h"
#include "ui/browser.h"
#include "ui/button.h"
#include "ui/label.h"
#include "ui/progress_bar.h"
#include "workflow/message_box_timer.h"
#include "workflow/progress_thread.h"
#include "workflow/string_table.h"
#include "workflow/update_workflow.h"

namespace {

// The end of the wait wakes the queue; this only bounds a wait whose wake was lost.
constexpr std::chrono::milliseconds kDispatchWait{1000};

}  // namespace

MainForm::MainForm(Ormel::Backend& backend, MessageBoxTimer& questions, Desktop& desktop,
                   const std::u16string& programFolder, const UpdateServerAddress& server, const std::string& skinPath)
    : SkinForm(backend, u"MainForm", skinPath),
      questions_(questions),
      desktop_(desktop),
      programFolder_(programFolder) {
  Log::Write(u"");
  Log::InfoText(Text(TextId::kPatcherStarted));
  SetText(Text(TextId::kWindowTitle));
  BindControls();
  // The pane's window is shown as it is made; it appears with the form.
  if (browser_ != nullptr && browser_->host() != nullptr) browser_->host()->SetVisible(false);
  archives_ = std::make_unique<ClientArchiveSet>(programFolder_, server);
  workflow_ = std::make_unique<UpdateWorkflow>(*archives_, *this);
  workflow_->StartStartup();
  progress_ = std::make_unique<ProgressThread>(*archives_, *this);
}

MainForm::~MainForm() {
  StopWork();
  // The work has stopped: the window goes from the screen now, not after the toolkit's
  // teardown (the browser pane alone takes seconds there).
  Hide();
  CloseArchives();
  archives_.reset();
  Log::InfoText(Text(TextId::kPatcherClosed));
}

void MainForm::BindControls() {
  struct Binding {
    const char* name;
    Ormel::Button** button;
    void (MainForm::*handler)();
  };
  const Binding buttons[] = {
      {"CloseButton", &closeButton_, &MainForm::OnCloseClick},
      {"MinimizeButton", &minimizeButton_, &MainForm::OnMinimizeClick},
      {"PlayButton", &playButton_, &MainForm::OnPlayClick},
      {"ManualButton", &manualButton_, &MainForm::OnManualClick},
      {"CheckButton", &checkButton_, &MainForm::OnCheckClick},
      {"UpdateButton", &updateButton_, &MainForm::OnUpdateClick},
      {"NoGfxButton", &noGfxButton_, &MainForm::OnNoGfxClick},
      {"NoGfxCheckedButton", &noGfxCheckedButton_, &MainForm::OnNoGfxCheckedClick},
      {"HomeButton", &homeButton_, nullptr},
      {"SocialButton", &socialButton_, nullptr},
      {"RegisterButton", &registerButton_, nullptr},
  };
  for (const Binding& binding : buttons) {
    auto* button = FindAs<Ormel::Button>(binding.name);
    *binding.button = button;
    if (button == nullptr) continue;
    if (binding.handler != nullptr) {
      button->SetClickHandler(
          [this, handler = binding.handler](Ormel::Control&, int, int, int) { (this->*handler)(); });
    } else {
      button->SetClickHandler([this](Ormel::Control& control, int, int, int) { OnLinkClick(control); });
    }
  }
  label1_ = FindAs<Ormel::Label>("Label1");
  label2_ = FindAs<Ormel::Label>("Label2");
  browser_ = FindAs<Ormel::Browser>("Browser");
  currentProgress_ = FindAs<Ormel::ProgressBar>("CurrentProgress");
  totalProgress_ = FindAs<Ormel::ProgressBar>("TotalProgress");
}

void MainForm::Enable(Ormel::Control* control, bool enabled) {
  if (control == nullptr) return;
  control->SetDisabled(!enabled);
  control->SetState(enabled ? Ormel::kNormal : Ormel::kDisabled);
}

void MainForm::Quit() {
  backend().PostQuit(0);
}

void MainForm::BeginClosing() {
  {
    std::lock_guard lock(gateMutex_);
    closing_ = true;
  }
  gate_.notify_all();
}

void MainForm::CancelAndQuit() {
  BeginClosing();
  // An open question (a worker's, or this thread's own close question) ends with no.
  if (questions_.asking()) questions_.Answer(kAnswerNo);
  // The pass stops between two items; until then the window keeps painting.
  if (archives_->busy) WaitWhileDispatching([this] { workflow_->Cancel(); });
  Quit();
}

void MainForm::StopWork() {
  if (stopped_) return;
  stopped_ = true;
  BeginClosing();
  WaitWhileDispatching([this] {
    workflow_->Stop();
    progress_->Stop();
  });
}

void MainForm::WaitWhileDispatching(const std::function<void()>& blocking) {
  std::atomic<bool> done{false};
  const Ormel::MessageQueue queue = backend().CurrentQueue();
  std::thread helper([&] {
    blocking();
    done = true;
    backend().Wake(queue);
  });
  // Workers redraw the window and show their questions through this thread's messages.
  std::optional<int> quit;
  while (!done) {
    if (closing_ && questions_.asking()) questions_.Answer(kAnswerNo);
    const std::optional<int> taken = backend().PumpMessages(kDispatchWait);
    if (taken && !quit) quit = taken;
  }
  helper.join();
  // A quit request taken here belongs to the loop that waits for it.
  if (quit) backend().PostQuit(*quit);
}

void MainForm::CloseArchives() {
  // Each archive writes its changed index as it closes.
  if (archives_ != nullptr) archives_->archives.clear();
}

void MainForm::OnDestroy() {
  StopWork();
  CloseArchives();
}

void MainForm::OnEnable() {
  if (browser_ != nullptr && browser_->host() != nullptr) browser_->host()->SetEnabled(true);
}

void MainForm::OnDisable() {
  if (browser_ != nullptr && browser_->host() != nullptr) browser_->host()->SetEnabled(false);
}

void MainForm::OnShow() {
  if (browser_ != nullptr && browser_->host() != nullptr) browser_->host()->SetVisible(true);
  {
    std::lock_guard lock(gateMutex_);
    revealed_ = true;
  }
  gate_.notify_all();
}

void MainForm::OnHide() {
  if (browser_ != nullptr && browser_->host() != nullptr) browser_->host()->SetVisible(false);
}

void MainForm::OnMouseDown(int button, int x, int y) {
  DragFromBackground(button, x, y);
}

bool MainForm::OnClose() {
  if (closing_) return true;
  // A question holds the window: the close is the answer, and the operation stops.
  if (questions_.asking()) {
    CancelAndQuit();
  } else {
    OnCloseClick();
  }
  return true;
}

void MainForm::SetStatus(std::u16string_view text) {
  if (label1_ != nullptr) label1_->SetText(text);
}

void MainForm::SetVersionLine(std::u16string_view text) {
  if (label2_ != nullptr) label2_->SetText(text);
}

void MainForm::SetStepFormat(std::u16string_view format) {
  if (totalProgress_ != nullptr) totalProgress_->SetText(format);
}

void MainForm::ApplyButtons(ButtonSet set) {
  const ButtonStates states = StatesOf(set);
  BeginBatch();
  Enable(playButton_, states.play);
  Enable(checkButton_, states.check);
  Enable(updateButton_, states.update);
  Enable(manualButton_, states.manual);
  EndBatch();
}

void MainForm::EnableClose(bool enabled) {
  Enable(closeButton_, enabled);
}

int MainForm::Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) {
  {
    std::unique_lock lock(gateMutex_);
    gate_.wait(lock, [this] { return revealed_ || closing_; });
    if (closing_) return kAnswerNo;
  }
  return questions_.Ask(this, firstLine, secondLine, seconds);
}

bool MainForm::ChooseManualPackage(std::u16string& path) {
  if (closing_) return false;
  // The dialog has no owner; the window takes no input meanwhile, so nothing else starts.
  if (window() != nullptr) window()->SetEnabled(false);
  const bool chosen =
      desktop_.ChooseFile(std::u16string(kPackageFilterLabel), std::u16string(kPackageFilterPattern), path);
  if (window() != nullptr) window()->SetEnabled(true);
  return chosen;
}

void MainForm::BeginCycle() {
  BeginBatch();
}

void MainForm::EndCycle() {
  EndBatch();
}

void MainForm::SetTotalFraction(double fraction) {
  if (totalProgress_ != nullptr) totalProgress_->SetProgress(fraction);
}

void MainForm::SetCurrentFraction(double fraction) {
  if (currentProgress_ != nullptr) currentProgress_->SetProgress(fraction);
}

void MainForm::SetSpeedText(const std::u16string& text) {
  if (currentProgress_ != nullptr) currentProgress_->SetText(text);
}
