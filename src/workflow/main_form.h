#pragma once
// MainForm: the updater's window, built from "skin/mainuni.xml". A view: it binds the skin's
// controls by name, shows what the update workflow and the progress display tell it, asks
// the workflow's questions, and hands every click to its actions (the updater session does
// them).
//
// Threads: clicks arrive on the UI thread; the workflow's workers and the progress thread
// change the controls from their own threads. The UI thread never blocks on a worker that may
// be waiting for it: whenever it waits for workers (WaitWhileDispatching) it keeps the
// messages flowing and, once the window is closing, answers an open worker's question no.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "ui/skin_form.h"
#include "workflow/progress_display.h"
#include "workflow/workflow_window.h"

class Desktop;
class MessageBoxTimer;

namespace Ormel {
class Browser;
class Button;
class Label;
class ProgressBar;
}  // namespace Ormel

// What the window's buttons ask for.
class MainFormActions {
 public:
  virtual ~MainFormActions() = default;
  // The close button, or the window closed from outside. `questionOpen`: a question holds
  // the window, and the close is its answer.
  virtual void Close(bool questionOpen) = 0;
  virtual void Play() = 0;
  virtual void Check() = 0;
  virtual void Update() = 0;
  virtual void ManualUpdate() = 0;
  // One of the two graphics switch buttons: the switch is to be `on`.
  virtual void SetGraphicsSwitch(bool on) = 0;
  // The window is being destroyed: the work must stop now.
  virtual void WindowDestroyed() = 0;
};

class MainForm : public Ormel::SkinForm, public WorkflowWindow, public ProgressView {
 public:
  static constexpr const char* kSkinPath = "skin/mainuni.xml";
  // The manual update's file dialog: one label and one pattern for the same files.
  static constexpr std::u16string_view kPackageFilterLabel = u"Файл ручного обновления Solmere Classic (*.cup)";
  static constexpr std::u16string_view kPackageFilterPattern = u"*.cup";

  // Builds the hidden window. `questions` and `desktop` (its file dialog and the links) must
  // outlive the form.
  MainForm(Ormel::Backend& backend, MessageBoxTimer& questions, Desktop& desktop,
           const std::string& skinPath = kSkinPath);

  // Where clicks go from now on; none before (they do nothing). Must outlive the form, or be
  // replaced by null first.
  void SetActions(MainFormActions* actions) { actions_ = actions; }

  // Shows `on` on the two switch buttons: exactly one of them is visible and enabled.
  void ShowGraphicsSwitch(bool on);

  // The end has begun: from now on questions are answered no without being asked.
  void BeginClosing();
  bool closing() const { return closing_; }
  // Answers an open question (a worker's, or this thread's own) no.
  void AnswerOpenQuestionNo();
  // Ends the message loop with code 0.
  void Quit();
  // Runs `blocking` on a helper thread while this thread dispatches its messages; while the
  // form is closing, a question that opens meanwhile is answered no.
  void WaitWhileDispatching(const std::function<void()>& blocking);

  // Form hooks.
  void OnDestroy() override;
  void OnEnable() override;
  void OnDisable() override;
  void OnShow() override;
  void OnHide() override;
  void OnMouseDown(int button, int x, int y) override;
  bool OnClose() override;

  // The workflow's window.
  void SetStatus(std::u16string_view text) override;
  void SetVersionLine(std::u16string_view text) override;
  void SetStepFormat(std::u16string_view format) override;
  void ApplyButtons(ButtonSet set) override;
  void EnableClose(bool enabled) override;
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) override;
  bool ChooseManualPackage(std::u16string& path) override;

  // The progress display's view: one batch per cycle.
  void BeginCycle() override;
  void EndCycle() override;
  void SetTotalFraction(double fraction) override;
  void SetCurrentFraction(double fraction) override;
  void SetSpeedText(const std::u16string& text) override;

 private:
  void BindControls();
  void OnLinkClick(Ormel::Control& control);
  // Enabled: not disabled, state Normal; disabled: the reverse.
  static void Enable(Ormel::Control* control, bool enabled);

  MessageBoxTimer& questions_;
  Desktop& desktop_;
  std::atomic<MainFormActions*> actions_{nullptr};

  Ormel::ProgressBar* currentProgress_ = nullptr;
  Ormel::ProgressBar* totalProgress_ = nullptr;
  Ormel::Button* minimizeButton_ = nullptr;
  Ormel::Button* closeButton_ = nullptr;
  Ormel::Button* playButton_ = nullptr;
  Ormel::Button* manualButton_ = nullptr;
  Ormel::Button* checkButton_ = nullptr;
  Ormel::Button* updateButton_ = nullptr;
  Ormel::Button* homeButton_ = nullptr;
  Ormel::Button* socialButton_ = nullptr;
  Ormel::Button* registerButton_ = nullptr;
  Ormel::Label* label1_ = nullptr;
  Ormel::Label* label2_ = nullptr;
  Ormel::Browser* browser_ = nullptr;
  Ormel::Button* noGfxButton_ = nullptr;
  Ormel::Button* noGfxCheckedButton_ = nullptr;

  // Questions wait until the window has been shown (a hidden window that hands over to the
  // launcher program asks nothing), or are answered no once the form is closing.
  std::mutex gateMutex_;
  std::condition_variable gate_;
  bool revealed_ = false;
  std::atomic<bool> closing_{false};
};
