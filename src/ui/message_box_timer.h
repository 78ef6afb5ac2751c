#pragma once
// MessageBoxTimer: the updater's own yes/no question box, drawn from "skin/mbtuni.xml". Ask
// blocks its caller in a modal loop until the question is answered: by a click on "ButtonYes"
// or "ButtonNo", by the count-down running out (yes), or by Answer.
//
// Questions are asked from the UI thread and from workers; the box's clicks are always handled
// on the UI thread. One question is open at a time: a second Ask waits (its thread's messages
// still flowing) until the first is answered, instead of overwriting its texts and answer.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "ui/countdown.h"
#include "ui/skin_form.h"

namespace Ormel {
class Button;
class Label;
}  // namespace Ormel

inline constexpr int kMessageBoxYes = 6;
inline constexpr int kMessageBoxNo = 7;

class MessageBoxTimer : public Ormel::SkinForm {
 public:
  static constexpr const char* kSkinPath = "skin/mbtuni.xml";

  // The process's box, built by the first call (on the UI thread) on the Windows toolkit.
  static MessageBoxTimer& Instance();

  MessageBoxTimer(Ormel::Backend& backend, Ormel::CountdownClock& clock, const std::string& skinPath = kSkinPath);
  ~MessageBoxTimer() override;

  // 6 (yes) or 7 (no). `owner` (may be null) takes no input while the box is up. seconds > 0
  // counts down on the yes button and answers yes at the end; seconds < 0 answers yes at once.
  // A box whose skin lacks one of its four controls cannot ask: it answers no at once.
  int Ask(Ormel::Form* owner, std::u16string_view firstLine, std::u16string_view secondLine, int seconds);
  // Answers the open question, as a click would; nothing when none is open.
  void Answer(int answer);
  // Whether a question is open.
  bool asking() const { return asking_; }
  bool usable() const;

  void OnHide() override;
  // Closing the box from outside answers no; the box stays for later questions.
  bool OnClose() override;
  void OnMouseDown(int button, int x, int y) override;

 private:
  void TakeAnswer(int answer);
  void StartCountdown(int seconds);

  Ormel::Label* firstLine_ = nullptr;
  Ormel::Label* secondLine_ = nullptr;
  Ormel::Button* yesButton_ = nullptr;
  Ormel::Button* noButton_ = nullptr;
  std::u16string yesCaption_;
  std::u16string countdownFormat_;
  std::atomic<int> answer_{0};
  std::atomic<bool> asking_{false};
  std::mutex questionMutex_;
  std::atomic<std::thread::id> asker_{};
  Ormel::Countdown countdown_;
};
