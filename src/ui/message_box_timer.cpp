#include "ui/message_box_timer.h"

#include <chrono>

#include "app/log.h"
#include "app/text_format.h"
#include "ui/button.h"
#include "ui/label.h"

namespace {

constexpr std::chrono::milliseconds kPollWait{1};

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

MessageBoxTimer::MessageBoxTimer(Ormel::Backend& backend, Ormel::CountdownClock& clock, const std::string& skinPath)
    : SkinForm(backend, u"MessageBox", skinPath), countdown_(clock) {
  SetText(u"Solmere Classic Updater MessageBox");
  firstLine_ = FindAs<Ormel::Label>("Label1");
  secondLine_ = FindAs<Ormel::Label>("Label2");
  yesButton_ = FindAs<Ormel::Button>("ButtonYes");
  noButton_ = FindAs<Ormel::Button>("ButtonNo");
  if (yesButton_ != nullptr) {
    yesCaption_ = yesButton_->text();
    countdownFormat_ = EscapePercent(yesCaption_) + u" (%d)";
    yesButton_->SetClickHandler([this](Ormel::Control&, int, int, int) { TakeAnswer(kMessageBoxYes); });
  }
  if (noButton_ != nullptr) {
    noButton_->SetClickHandler([this](Ormel::Control&, int, int, int) { TakeAnswer(kMessageBoxNo); });
  }
}

MessageBoxTimer::~MessageBoxTimer() {
  countdown_.Cancel();
}

bool MessageBoxTimer::usable() const {
  return firstLine_ != nullptr && secondLine_ != nullptr && yesButton_ != nullptr && noButton_ != nullptr &&
         window() != nullptr;
}

int MessageBoxTimer::Ask(Ormel::Form* owner, std::u16string_view firstLine, std::u16string_view secondLine,
                         int seconds) {
  if (!usable()) {
    Log::Error(u"Can't ask without a message box: %s", firstLine);
    return kMessageBoxNo;
  }
  // A question asked from inside this thread's own open question could never be shown: the
  // open one waits for this one to end.
  if (asker_.load() == std::this_thread::get_id()) return kMessageBoxNo;
  std::optional<int> quit;
  while (!questionMutex_.try_lock()) {
    if (!quit) quit = backend().PumpMessages(kPollWait);
  }
  std::unique_lock question(questionMutex_, std::adopt_lock);
  asker_ = std::this_thread::get_id();

  if (owner != nullptr && owner->window() != nullptr) owner->window()->SetEnabled(false);
  firstLine_->SetText(firstLine);
  secondLine_->SetText(secondLine);
  answer_ = 0;
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
  while (answer_ == 0) {
    if (quit) {
      TakeAnswer(kMessageBoxNo);
      break;
    }
    quit = backend().PumpMessages(kPollWait);
  }
  countdown_.Cancel();
  const int answer = answer_;
  asking_ = false;
  Hide();
  if (owner != nullptr && owner->window() != nullptr) {
    owner->window()->BringToFront();
    owner->window()->SetEnabled(true);
  }
  asker_ = std::thread::id{};
  question.unlock();
  if (quit) backend().PostQuit(*quit);
  return answer;
}

void MessageBoxTimer::StartCountdown(int seconds) {
  countdown_.Start(
      seconds, [this](int remaining) { yesButton_->StoreText(FormatText(countdownFormat_, remaining)); },
      [this] {
        int unanswered = 0;
        answer_.compare_exchange_strong(unanswered, kMessageBoxYes);
      },
      [this] { Redraw(); });
}

void MessageBoxTimer::Answer(int answer) {
  if (asking_) TakeAnswer(answer);
}

void MessageBoxTimer::TakeAnswer(int answer) {
  // Stop the count-down first, so that it cannot answer yes over this answer; the first
  // answer of a question is the one that stands.
  countdown_.Cancel();
  int unanswered = 0;
  answer_.compare_exchange_strong(unanswered, answer);
}

void MessageBoxTimer::OnHide() {
  int unanswered = 0;
  answer_.compare_exchange_strong(unanswered, kMessageBoxYes);
}

bool MessageBoxTimer::OnClose() {
  Answer(kMessageBoxNo);
  return true;
}

void MessageBoxTimer::OnMouseDown(int button, int x, int y) {
  DragFromBackground(button, x, y);
}
