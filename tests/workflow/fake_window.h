#pragma once
// A window for the workflow tests: it records everything the workflow shows, in order,
// and answers questions and the file dialog from a script.

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"
#include "workflow/workflow_window.h"

class FakeWindow : public WorkflowWindow {
 public:
  enum class Answer { kYes, kNo, kCountDownEnds };

  void Script(std::initializer_list<Answer> answers) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.insert(answers_.end(), answers);
  }
  // The next dialog chooses this file; nullopt cancels it.
  void ScriptDialog(std::optional<std::u16string> path) {
    std::lock_guard<std::mutex> lock(mutex_);
    dialogs_.push_back(std::move(path));
  }
  // Called on the workflow's thread after each event is recorded.
  void OnEvent(std::function<void(const std::string&)> hook) { hook_ = std::move(hook); }
  // The first time `event` is shown, the window throws, as a window that runs out of
  // memory would.
  void ThrowOn(std::string event) {
    std::lock_guard<std::mutex> lock(mutex_);
    throwOn_ = std::move(event);
  }
  // From now on any call is a fault: the workflow has been destroyed.
  void Close() { closed_ = true; }

  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // Only the events that begin with `prefix`.
  std::vector<std::string> Events(const std::string& prefix) const {
    std::vector<std::string> chosen;
    for (const std::string& event : Events())
      if (event.rfind(prefix, 0) == 0) chosen.push_back(event);
    return chosen;
  }
  std::size_t UnusedAnswers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answers_.size() + dialogs_.size();
  }

  void SetStatus(std::u16string_view text) override { Record("status: " + Utf8(text)); }
  void SetVersionLine(std::u16string_view text) override { Record("version: " + Utf8(text)); }
  void SetStepFormat(std::u16string_view format) override { Record("step: " + Utf8(format)); }
  void ApplyButtons(ButtonSet set) override { Record("buttons: " + Name(set)); }
  void EnableClose(bool enabled) override { Record(enabled ? "close: on" : "close: off"); }
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) override {
    Record("ask: " + Utf8(firstLine) + " | " + Utf8(secondLine) + " | " + std::to_string(seconds));
    std::lock_guard<std::mutex> lock(mutex_);
    if (answers_.empty()) {
      ADD_FAILURE() << "unexpected question: " << Utf8(secondLine);
      return kAnswerNo;
    }
    const Answer answer = answers_.front();
    answers_.pop_front();
    if (answer == Answer::kCountDownEnds) {
      EXPECT_GT(seconds, 0) << "no count-down to run out";
      return kAnswerYes;
    }
    return answer == Answer::kYes ? kAnswerYes : kAnswerNo;
  }
  bool ChooseManualPackage(std::u16string& path) override {
    Record("dialog: " + Utf8(path));
    std::lock_guard<std::mutex> lock(mutex_);
    if (dialogs_.empty()) {
      ADD_FAILURE() << "unexpected file dialog";
      return false;
    }
    std::optional<std::u16string> chosen = dialogs_.front();
    dialogs_.pop_front();
    if (!chosen) return false;
    path = *chosen;
    return true;
  }

  static std::string Name(ButtonSet set) {
    switch (set) {
      case ButtonSet::kWorking:
        return "Working";
      case ButtonSet::kReady:
        return "Ready";
      case ButtonSet::kUpdateNeeded:
        return "Update needed";
      case ButtonSet::kServerError:
        return "Server error";
      case ButtonSet::kDamagedFolder:
        return "Damaged folder";
    }
    return "?";
  }

 private:
  static std::string Utf8(std::u16string_view text) { return platform::Utf8FromUtf16(text); }
  void Record(std::string event) {
    if (closed_) ADD_FAILURE() << "window used after the workflow ended: " << event;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(event);
      if (!throwOn_.empty() && event == throwOn_) {
        throwOn_.clear();
        throw std::runtime_error("the window failed at " + event);
      }
    }
    if (hook_) hook_(event);
  }

  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::deque<Answer> answers_;
  std::deque<std::optional<std::u16string>> dialogs_;
  std::function<void(const std::string&)> hook_;
  std::string throwOn_;
  std::atomic<bool> closed_{false};
};
