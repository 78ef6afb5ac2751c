#pragma once
// What the update workflow needs from its window: the two labels, the step format of the
// total progress bar, the buttons, questions, the dialog that picks an update package, and
// the cause of a failure, told right before the question that follows it. Workers call it
// from their own threads; only the window knows how to reach its UI thread.

#include <string>
#include <string_view>
#include <variant>

#include "engine/client_archive_set.h"
#include "workflow/button_sets.h"

// The answers of a question, as the updater's question box gives them.
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// The result of the engine operation that failed.
using FailureCause = std::variant<OpenResult, ServerVersion, ListResult, CheckResult, ApplyResult, WriteResult>;

class WorkflowWindow {
 public:
  virtual ~WorkflowWindow() = default;

  // Label1: what the updater is doing or what the client needs.
  virtual void SetStatus(std::u16string_view text) = 0;
  // Label2: the version line or the damaged-folder notice.
  virtual void SetVersionLine(std::u16string_view text) = 0;
  // The total progress bar's text format; "%d%%" in it shows the whole percentage.
  virtual void SetStepFormat(std::u16string_view format) = 0;
  virtual void ApplyButtons(ButtonSet set) = 0;
  virtual void EnableClose(bool enabled) = 0;
  // kAnswerYes or kAnswerNo. With seconds > 0 the question counts down and its end answers yes.
  virtual int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) = 0;
  // Whether someone can pick another package file when one does not fit: otherwise the
  // workflow does not offer it.
  virtual bool CanChooseFiles() const { return true; }
  // The manual button's file dialog, pre-filled with `path`; true with `path` replaced
  // when a file was chosen.
  virtual bool ChooseManualPackage(std::u16string& path) = 0;
  // What failed; a window with room for it says so (the log has it either way).
  virtual void ShowCause(const FailureCause& /*cause*/) {}
};
