#pragma once
// QuestionBox: a skinned yes/no question with an optional count-down. Ask blocks its caller in
// a modal loop until the question is answered: by a click on "ButtonYes" or "ButtonNo", by the
// count-down running out (yes), or by Answer.
//
// Questions are asked from the UI thread and from workers; the box's clicks are always handled
// on the UI thread. One question is open at a time: a second Ask waits (its thread's messages
// still flowing) until the first is answered, instead of overwriting its texts and answer.
// Waiting threads sleep in their message queue's wait and are woken by whatever ends the wait.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ui/backend.h"
#include "ui/countdown.h"
#include "ui/skin_form.h"

namespace Ormel {

class Button;
class Label;

class QuestionBox : public SkinForm {
 public:
  // `formName` names the window class, `title` the window's text.
  QuestionBox(Backend& backend, CountdownClock& clock, std::u16string_view formName, const std::string& skinPath,
              std::u16string_view title);
  ~QuestionBox() override;

  // True for yes. `owner` (may be null) takes no input while the box is up. seconds > 0
  // counts down on the yes button and answers yes at the end; seconds < 0 answers yes at once.
  // A box whose skin lacks one of its four controls cannot ask: it answers no at once.
  bool Ask(Form* owner, std::u16string_view firstLine, std::u16string_view secondLine, int seconds);
  // Answers the open question, as a click would; nothing when none is open.
  void Answer(bool yes);
  // Whether a question is open.
  bool asking() const { return asking_; }
  bool usable() const;

  void OnHide() override;
  // Closing the box from outside answers no; the box stays for later questions.
  bool OnClose() override;
  void OnMouseDown(int button, int x, int y) override;

 private:
  enum AnswerState : int { kUnanswered = 0, kYes = 1, kNo = 2 };

  // Waits, with the thread's messages flowing, until no other question is open, then takes
  // the box; a quit request taken meanwhile is returned.
  std::optional<int> TakeTurn(MessageQueue queue);
  void GiveTurn();
  // The first answer of a question stands; the asker wakes for it.
  void TakeAnswer(AnswerState answer);
  void StartCountdown(int seconds);

  Label* firstLine_ = nullptr;
  Label* secondLine_ = nullptr;
  Button* yesButton_ = nullptr;
  Button* noButton_ = nullptr;
  std::u16string yesCaption_;
  std::u16string countdownFormat_;
  std::atomic<int> answer_{kUnanswered};
  std::atomic<bool> asking_{false};
  std::atomic<std::thread::id> asker_{};
  std::atomic<MessageQueue> askerQueue_{0};
  // Whose turn it is, and the queues of the threads that wait for theirs.
  std::mutex turnMutex_;
  bool taken_ = false;
  std::vector<MessageQueue> waiting_;
  Countdown countdown_;
};

}  // namespace Ormel
