#pragma once
// MessageBoxTimer: the updater's own yes/no question box, the toolkit's question box drawn
// from "skin/mbtuni.xml", answering with the workflow's codes (kAnswerYes, kAnswerNo). The
// process has one, made on the UI thread before anything asks.

#include <string>
#include <string_view>

#include "ui/question_box.h"
#include "workflow/workflow_window.h"

class MessageBoxTimer : public Ormel::QuestionBox {
 public:
  static constexpr const char* kSkinPath = "skin/mbtuni.xml";

  MessageBoxTimer(Ormel::Backend& backend, Ormel::CountdownClock& clock, const std::string& skinPath = kSkinPath)
      : QuestionBox(backend, clock, u"MessageBox", skinPath, u"Solmere Classic Updater MessageBox") {}

  // kAnswerYes or kAnswerNo; see QuestionBox::Ask.
  int Ask(Ormel::Form* owner, std::u16string_view firstLine, std::u16string_view secondLine, int seconds) {
    return QuestionBox::Ask(owner, firstLine, secondLine, seconds) ? kAnswerYes : kAnswerNo;
  }
  // Answers the open question with kAnswerYes or kAnswerNo, as a click would.
  void Answer(int answer) { QuestionBox::Answer(answer == kAnswerYes); }
};
