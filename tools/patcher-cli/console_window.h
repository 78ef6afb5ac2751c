#pragma once
// The workflow's window on a console: the status line, the version line, the step with
// its percentage and the download with its speed. On a terminal they are a panel redrawn
// ten times a second; otherwise each change is one plain line.

#include <mutex>
#include <string>

#include "console_questions.h"
#include "workflow/progress_display.h"
#include "workflow/workflow_window.h"

class ConsoleWindow : public WorkflowWindow, public ProgressView {
 public:
  ConsoleWindow(bool outputIsTerminal, AnswerRules rules) : terminal_(outputIsTerminal), questions_(rules) {}

  void SetStatus(std::u16string_view text) override;
  void SetVersionLine(std::u16string_view text) override;
  void SetStepFormat(std::u16string_view format) override;
  void ApplyButtons(ButtonSet) override {}
  void EnableClose(bool) override {}
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) override;
  bool ChooseManualPackage(std::u16string& path) override;

  void SetTotalFraction(double fraction) override;
  void SetCurrentFraction(double fraction) override;
  void SetSpeedText(const std::u16string& text) override;
  void EndCycle() override;

  // A line of its own below the panel.
  void Note(const std::string& text);
  // The panel's last state, and the cursor below it.
  void Finish();

 private:
  // The step format expanded with the step's whole percentage.
  std::string StepLine() const;
  std::string DownloadLine() const;
  void Redraw();
  // Leaves the panel as it stands, so that what follows is printed below it.
  void ClosePanel();
  void PrintLine(const std::string& line);

  const bool terminal_;
  ConsoleQuestions questions_;
  std::mutex mutex_;
  std::u16string status_;
  std::u16string version_;
  std::u16string step_;
  std::u16string speed_;
  double total_ = 0.0;
  double current_ = 0.0;
  bool asking_ = false;
  int panelLines_ = 0;
  // Plain output: the last step line printed, in tenths of the step.
  int printedTenth_ = -1;
};
