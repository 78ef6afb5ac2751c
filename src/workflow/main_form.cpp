#include "workflow/main_form.h"

#include <chrono>
#include <optional>
#include <thread>

#include "platform/desktop.h"
#include "ui/browser.h"
#include "ui/button.h"
#include "ui/label.h"
#include "ui/progress_bar.h"
#include "workflow/message_box_timer.h"
#include "workflow/string_table.h"

namespace {

// The end of the wait wakes the queue; this only bounds a wait whose wake was lost.
constexpr std::chrono::milliseconds kDispatchWait{1000};

}  // namespace

MainForm::MainForm(Ormel::Backend& backend, MessageBoxTimer& questions, Desktop& desktop, const std::string& skinPath)
    : SkinForm(backend, u"MainForm", skinPath), questions_(questions), desktop_(desktop) {
  SetText(Text(TextId::kWindowTitle));
  BindControls();
  // The pane's window is shown as it is made; it appears with the form.
  if (browser_ != nullptr && browser_->host() != nullptr) browser_->host()->SetVisible(false);
}

void MainForm::BindControls() {
  // A click goes to the actions the form has at the time.
  const auto forward = [this](void (*act)(MainFormActions&)) -> std::function<void()> {
    return [this, act] {
      if (MainFormActions* actions = actions_.load()) act(*actions);
    };
  };
  struct Binding {
    const char* name;
    Ormel::Button** button;
    // None: a link to the button's address.
    std::function<void()> click;
  };
  const Binding buttons[] = {
      {"CloseButton", &closeButton_, forward([](MainFormActions& actions) { actions.Close(false); })},
      {"MinimizeButton", &minimizeButton_,
       [this] {
         if (window() != nullptr) window()->Minimize();
       }},
      {"PlayButton", &playButton_, forward([](MainFormActions& actions) { actions.Play(); })},
      {"ManualButton", &manualButton_, forward([](MainFormActions& actions) { actions.ManualUpdate(); })},
      {"CheckButton", &checkButton_, forward([](MainFormActions& actions) { actions.Check(); })},
      {"UpdateButton", &updateButton_, forward([](MainFormActions& actions) { actions.Update(); })},
      {"NoGfxButton", &noGfxButton_, forward([](MainFormActions& actions) { actions.SetGraphicsSwitch(true); })},
      {"NoGfxCheckedButton", &noGfxCheckedButton_,
       forward([](MainFormActions& actions) { actions.SetGraphicsSwitch(false); })},
      {"HomeButton", &homeButton_, nullptr},
      {"SocialButton", &socialButton_, nullptr},
      {"RegisterButton", &registerButton_, nullptr},
  };
  for (const Binding& binding : buttons) {
    auto* button = FindAs<Ormel::Button>(binding.name);
    *binding.button = button;
    if (button == nullptr) continue;
    if (binding.click) {
      button->SetClickHandler([click = binding.click](Ormel::Control&, int, int, int) { click(); });
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

void MainForm::OnLinkClick(Ormel::Control& control) {
  const auto* button = dynamic_cast<const Ormel::Button*>(&control);
  if (button != nullptr && !button->url().empty()) desktop_.OpenAddress(button->url());
}

void MainForm::Enable(Ormel::Control* control, bool enabled) {
  if (control == nullptr) return;
  control->SetDisabled(!enabled);
  control->SetState(enabled ? Ormel::kNormal : Ormel::kDisabled);
}

void MainForm::ShowGraphicsSwitch(bool on) {
  BeginBatch();
  Ormel::Button* const hidden = on ? noGfxButton_ : noGfxCheckedButton_;
  Ormel::Button* const shown = on ? noGfxCheckedButton_ : noGfxButton_;
  if (hidden != nullptr) {
    hidden->SetVisible(false);
    Enable(hidden, false);
  }
  if (shown != nullptr) {
    shown->SetVisible(true);
    Enable(shown, true);
  }
  // Visibility alone asks for no redraw.
  Redraw();
  EndBatch();
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

void MainForm::AnswerOpenQuestionNo() {
  if (questions_.asking()) questions_.Answer(kAnswerNo);
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
    if (closing_) AnswerOpenQuestionNo();
    const std::optional<int> taken = backend().PumpMessages(kDispatchWait);
    if (taken && !quit) quit = taken;
  }
  helper.join();
  // A quit request taken here belongs to the loop that waits for it.
  if (quit) backend().PostQuit(*quit);
}

void MainForm::OnDestroy() {
  if (MainFormActions* actions = actions_.load()) actions->WindowDestroyed();
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
  if (MainFormActions* actions = actions_.load()) actions->Close(questions_.asking());
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
