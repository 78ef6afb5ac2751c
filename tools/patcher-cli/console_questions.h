#pragma once
// The workflow's yes/no questions on a console: asked on the terminal with their
// count-downs, or answered by rule when nobody can answer.

#include <map>
#include <mutex>
#include <string>
#include <string_view>

struct AnswerRules {
  // Questions are read from the terminal.
  bool interactive = false;
  // --yes: every question is answered yes at once.
  bool answerYes = false;
};

class ConsoleQuestions {
 public:
  // Unattended, the same question is answered yes at most this often, so that a retry or
  // an offer that keeps coming back ends in no and the run ends.
  static constexpr int kMaxUnattendedYes = 3;

  explicit ConsoleQuestions(AnswerRules rules) : rules_(rules) {}

  // kAnswerYes or kAnswerNo; prints the question and how it was answered. Ctrl+C answers no.
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds);
  // A path typed on the terminal; false when none was given or nobody can type one.
  bool AskPath(std::u16string& path);

 private:
  // Yes, unless this question was already answered yes kMaxUnattendedYes times.
  int UnattendedYes(std::u16string_view secondLine);
  int AskTerminal(int seconds);
  // Sleeps out a count-down; false when Ctrl+C cut it short.
  static bool WaitSeconds(int seconds);

  const AnswerRules rules_;
  std::mutex mutex_;
  std::map<std::u16string, int, std::less<>> yesCount_;
};

// "y", "yes", "д", "да" (any case of the Latin letters): 1; "n", "no", "н", "нет": 0; otherwise -1.
int ParseAnswer(std::string line);
