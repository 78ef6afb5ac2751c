#pragma once
// MainForm: the updater's window, built from "skin/mainuni.xml". It binds the skin's controls
// by name, owns the client archive set, runs the update workflow and the progress display on
// it, and handles the buttons: close, minimise, play, the three operations, the links and the
// graphics switch.
//
// Threads: clicks arrive on the UI thread; the workflow's workers and the progress thread
// change the controls from their own threads. The UI thread never blocks on a worker that may
// be waiting for it: whenever it waits for workers (a close, Play, the end) it keeps the
// messages flowing and answers an open worker's question no.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "net/update_server_address.h"
#include "ui/skin_form.h"
#include "workflow/progress_display.h"
#include "workflow/workflow_window.h"

class ClientArchiveSet;
class Desktop;
class MessageBoxTimer;
class ProgressThread;
class UpdateWorkflow;

namespace Ormel {
class Browser;
class Button;
class Label;
class ProgressBar;
}  // namespace Ormel

class MainForm : public Ormel::SkinForm, public WorkflowWindow, public ProgressView {
 public:
  static constexpr const char* kSkinPath = "skin/mainuni.xml";
  // The manual update's file dialog: one label and one pattern for the same files.
  static constexpr std::u16string_view kPackageFilterLabel = u"Файл ручного обновления Solmere Classic (*.cup)";
  static constexpr std::u16string_view kPackageFilterPattern = u"*.cup";

  // Builds the hidden window, then starts the start-up worker and the progress display.
  // `questions` and `desktop` must outlive the form. The client lies beside `programFolder`.
  MainForm(Ormel::Backend& backend, MessageBoxTimer& questions, Desktop& desktop, const std::u16string& programFolder,
           const UpdateServerAddress& server = BuiltInUpdateServer(), const std::string& skinPath = kSkinPath);
  // Stops every worker and the progress display, closes the archives, logs the end.
  ~MainForm() override;

  // The graphics switch (the client's no-graphics mode). Read: from the switch file beside
  // the working folder, created holding 0 when missing; the form keeps the value.
  bool ReadGraphicsSwitch();
  void WriteGraphicsSwitch(bool on);
  // Shows `on` on the two switch buttons: exactly one of them is visible and enabled.
  void ShowGraphicsSwitch(bool on);
  bool graphicsSwitch() const { return graphicsSwitch_; }

  ClientArchiveSet& archiveSet() { return *archives_; }
  UpdateWorkflow& workflow() { return *workflow_; }
  const std::u16string& programFolder() const { return programFolder_; }

  // Click handlers, on the UI thread.
  void OnCloseClick();
  void OnMinimizeClick();
  void OnPlayClick();
  void OnManualClick();
  void OnCheckClick();
  void OnUpdateClick();
  void OnLinkClick(Ormel::Control& control);
  void OnNoGfxClick();
  void OnNoGfxCheckedClick();

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
  // Enabled: not disabled, state Normal; disabled: the reverse.
  static void Enable(Ormel::Control* control, bool enabled);
  // Ends the message loop with code 0.
  void Quit();
  // A close once the user agreed: the running pass is told to stop, "Операция отменена" is
  // shown, and the loop ends; the end (StopWork) waits for the workers.
  void CancelAndQuit();
  // From now on questions are answered no and no new step starts.
  void BeginClosing();
  // Stops the workers and the progress display, keeping the messages flowing meanwhile.
  void StopWork();
  // Runs `blocking` on a helper thread while this thread dispatches its messages; while the
  // form is closing, a question that opens meanwhile is answered no.
  void WaitWhileDispatching(const std::function<void()>& blocking);
  void CloseArchives();

  MessageBoxTimer& questions_;
  Desktop& desktop_;
  const std::u16string programFolder_;
  std::atomic<bool> graphicsSwitch_{false};

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
  // UI thread only: the end has begun; a Play click is being handled.
  bool stopped_ = false;
  bool playing_ = false;

  std::unique_ptr<ClientArchiveSet> archives_;
  std::unique_ptr<UpdateWorkflow> workflow_;
  std::unique_ptr<ProgressThread> progress_;
};
