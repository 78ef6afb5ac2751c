#pragma once
// The workflow's window on a console: the status line, the version line, the step with its
// percentage and, while a step downloads, the bytes received, the speed and the time left.
// On a terminal they are a panel redrawn ten times a second, with each finished step left
// above it; otherwise (a pipe, a file) each change is one plain line, a step gets a line
// per tenth of its way and ends on a line of its own.

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "base/progress_counters.h"
#include "console_questions.h"
#include "workflow/progress_display.h"
#include "workflow/workflow_window.h"

class ConsoleWindow : public WorkflowWindow, public ProgressView {
 public:
  struct Settings {
    // Where everything but errors and the summary goes.
    std::FILE* out = stdout;
    // `out` is a terminal: draw the panel.
    bool terminal = false;
    AnswerRules rules;
  };

  // The counters are read for the steps' percentages and the bytes received.
  ConsoleWindow(ProgressCounters& progress, Settings settings);

  // Runs on the workflow's thread for each cause it shows: where the caller explains on
  // stderr what failed.
  void SetCauseHook(std::function<void(const FailureCause& cause)> hook);

  void SetStatus(std::u16string_view text) override;
  void SetVersionLine(std::u16string_view text) override;
  void SetStepFormat(std::u16string_view format) override;
  void ApplyButtons(ButtonSet) override {}
  void EnableClose(bool) override {}
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) override;
  // Someone at the terminal, who has not answered every question beforehand (--yes).
  bool CanChooseFiles() const override;
  // A path typed on the terminal, asked again while it names no update package.
  bool ChooseManualPackage(std::u16string& path) override;
  void ShowCause(const FailureCause& cause) override;

  void SetTotalFraction(double) override {}
  void SetCurrentFraction(double) override {}
  void SetSpeedText(const std::u16string& text) override;
  void EndCycle() override;

  // A line of its own below the panel.
  void Note(const std::string& text);
  // The panel's last state, and the cursor below it.
  void Finish();

  // Entries of every file check and package application that ran (their steps' counts).
  int64_t filesChecked() const;
  // The client version the run first showed.
  std::optional<int32_t> firstClientVersion() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Step {
    std::u16string format;
    Clock::time_point start;
    uint64_t startBytes = 0;
    // Plain output: the tenth and the percentage of the step's last line; -1 before one.
    int printedTenth = -1;
    int printedPercent = -1;
  };

  bool StepHasPercent() const;
  // The running step's way: its items, or for a package download the download itself.
  double StepFraction() const;
  uint64_t StepBytes() const;
  std::string StepLine(int percent) const;
  // ", получено 1.2 МБ, Скорость загрузки: ..., осталось около 3 с" while the step downloads;
  // at its end ", получено 1.2 МБ за 0.8 с". Empty when the step received nothing.
  std::string DownloadText(bool finished) const;
  // The finished step's last line and counts; `next` is the step that follows.
  void EndStep(std::u16string_view next);
  void Redraw();
  // Leaves the panel as it stands, so that what follows is printed below it.
  void ClosePanel();
  // Removes the panel, so that a line can take its place; the next cycle draws it again.
  void ClearPanel();
  void Write(const std::string& text);

  ProgressCounters& progress_;
  const Settings settings_;
  ConsoleQuestions questions_;
  std::function<void(const FailureCause&)> causeHook_;
  mutable std::mutex mutex_;
  std::u16string status_;
  std::u16string version_;
  std::u16string speed_;
  Step step_;
  // A step without a percentage ("Операция отменена") is shown once, however often it is set.
  std::u16string lastFixedStep_;
  bool asking_ = false;
  int panelLines_ = 0;
  int64_t filesChecked_ = 0;
  std::optional<int32_t> firstClientVersion_;
};
