#include "ui/question_box.h"

#include <algorithm>
#include <chrono>

#include "base/log.h"
#include "base/text_format.h"
#include "ui/button.h"
#include "ui/label.h"

namespace Ormel {
namespace {

// Every wait here is ended early by a wake; this only bounds one that a lost wake would
// otherwise leave waiting.
constexpr std::chrono::milliseconds kWakeWait{1000};

// The caption goes into a format: a "%" of its own must stay a "%".
std::u16string EscapePercent(std::u16string_view caption) {
  std::u16string escaped;
  for (char16_t c : caption) {
    escaped.push_back(c);
    if (c == u'%') escaped.push_back(u'%');
  }
  return escaped;
}

}  // namespace

QuestionBox::QuestionBox(Backend& backend, CountdownClock& clock, std::u16string_view formName,
                         const std::string& skinPath, std::u16string_view title)
    : SkinForm(backend, std::u16string(formName), skinPath), countdown_(clock) {
  SetText(title);
  firstLine_ = FindAs<Label>("Label1");
  secondLine_ = FindAs<Label>("Label2");
  yesButton_ = FindAs<Button>("ButtonYes");
  noButton_ = FindAs<Button>("ButtonNo");
  if (yesButton_ != nullptr) {
    yesCaption_ = yesButton_->text();
    countdownFormat_ = EscapePercent(yesCaption_) + u" (%d)";
    yesButton_->SetClickHandler([this](Control&, int, int, int) { TakeAnswer(kYes); });
  }
  if (noButton_ != nullptr) {
    noButton_->SetClickHandler([this](Control&, int, int, int) { TakeAnswer(kNo); });
  }
}

QuestionBox::~QuestionBox() {
  countdown_.Cancel();
}

bool QuestionBox::usable() const {
  return firstLine_ != nullptr && secondLine_ != nullptr && yesButton_ != nullptr && noButton_ != nullptr &&
         window() != nullptr;
}

bool QuestionBox::Ask(Form* owner, std::u16string_view firstLine, std::u16string_view secondLine, int seconds) {
  if (!usable()) {
    Log::Error(u"Can't ask without a message box: %s", firstLine);
    return false;
  }
  // A question asked from inside this thread's own open question could never be shown: the
  // open one waits for this one to end.
  if (asker_.load() == std::this_thread::get_id()) return false;
  const MessageQueue queue = backend().CurrentQueue();
  std::optional<int> quit = TakeTurn(queue);
  asker_ = std::this_thread::get_id();
  askerQueue_ = queue;

  if (owner != nullptr && owner->window() != nullptr) owner->window()->SetEnabled(false);
  firstLine_->SetText(firstLine);
  secondLine_->SetText(secondLine);
  answer_ = kUnanswered;
  asking_ = true;
  Show();
  if (seconds != 0) {
    StartCountdown(seconds);
  } else {
    countdown_.Cancel();
    yesButton_->SetText(yesCaption_);
  }
  // A quit request taken here ends the program: the question is answered no and the request
  // goes back on the queue for the loop that owns it.
  while (answer_ == kUnanswered) {
    if (quit) {
      TakeAnswer(kNo);
      break;
    }
    quit = backend().PumpMessages(kWakeWait);
  }
  countdown_.Cancel();
  const bool yes = answer_ == kYes;
  asking_ = false;
  Hide();
  if (owner != nullptr && owner->window() != nullptr) {
    owner->window()->BringToFront();
    owner->window()->SetEnabled(true);
  }
  asker_ = std::thread::id{};
  GiveTurn();
  if (quit) backend().PostQuit(*quit);
  return yes;
}

std::optional<int> QuestionBox::TakeTurn(MessageQueue queue) {
  std::optional<int> quit;
  for (;;) {
    {
      std::lock_guard lock(turnMutex_);
      if (!taken_) {
        taken_ = true;
        return quit;
      }
      waiting_.push_back(queue);
    }
    const std::optional<int> taken = backend().PumpMessages(kWakeWait);
    if (taken && !quit) quit = taken;
    std::lock_guard lock(turnMutex_);
    waiting_.erase(std::find(waiting_.begin(), waiting_.end(), queue));
  }
}

void QuestionBox::GiveTurn() {
  std::lock_guard lock(turnMutex_);
  taken_ = false;
  for (MessageQueue queue : waiting_) backend().Wake(queue);
}

void QuestionBox::StartCountdown(int seconds) {
  countdown_.Start(
      seconds, [this](int remaining) { yesButton_->StoreText(FormatText(countdownFormat_, remaining)); },
      [this] {
        int unanswered = kUnanswered;
        if (answer_.compare_exchange_strong(unanswered, kYes)) backend().Wake(askerQueue_);
      },
      [this] { Redraw(); });
}

void QuestionBox::Answer(bool yes) {
  if (asking_) TakeAnswer(yes ? kYes : kNo);
}

void QuestionBox::TakeAnswer(AnswerState answer) {
  // Stop the count-down first, so that it cannot answer yes over this answer; the first
  // answer of a question is the one that stands.
  countdown_.Cancel();
  int unanswered = kUnanswered;
  if (answer_.compare_exchange_strong(unanswered, answer)) backend().Wake(askerQueue_);
}

void QuestionBox::OnHide() {
  int unanswered = kUnanswered;
  if (answer_.compare_exchange_strong(unanswered, kYes)) backend().Wake(askerQueue_);
}

bool QuestionBox::OnClose() {
  Answer(false);
  return true;
}

void QuestionBox::OnMouseDown(int button, int x, int y) {
  DragFromBackground(button, x, y);
}

}  // namespace Ormel
