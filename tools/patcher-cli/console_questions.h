#pragma once
// The workflow's yes/no questions on a console: asked on the terminal with their
// count-downs, or answered by rule when nobody can answer. Everything it prints is Russian,
// like the questions themselves.

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

struct AnswerRules {
  // Questions are read from the terminal.
  bool interactive = false;
  // --yes: every question is answered yes; a retry only after a pause.
  bool answerYes = false;
};

class ConsoleQuestions {
 public:
  // Unattended, the same question is answered yes at most this often, so that a retry or
  // an offer that keeps coming back ends in no and the run ends.
  static constexpr int kMaxUnattendedYes = 3;

  ConsoleQuestions(AnswerRules rules, std::FILE* out) : rules_(rules), out_(out) {}

  // kAnswerYes or kAnswerNo; prints the question and how it was answered. Ctrl+C answers no.
  int Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds);
  // A path typed on the terminal; false when none was given or nobody can type one.
  bool AskPath(std::u16string& path);

  // Seconds an unattended --yes waits before it answers yes to this question: the
  // count-down for a retry that has one, 1, 2, 4 s for a retry that has none (by how often
  // it was answered yes already), nothing for any other question.
  static int PauseBeforeRetry(std::u16string_view secondLine, int seconds, int answeredYes);

 private:
  // Yes, unless this question was already answered yes kMaxUnattendedYes times; with a
  // pause first when pauseSeconds is above 0.
  int UnattendedYes(std::u16string_view secondLine, int pauseSeconds);
  int AnsweredYes(std::u16string_view secondLine);
  int AskTerminal(int seconds);
  void Print(const std::string& text);
  // Sleeps out a count-down; false when Ctrl+C cut it short.
  static bool WaitSeconds(int seconds);

  const AnswerRules rules_;
  std::FILE* const out_;
  std::mutex mutex_;
  std::map<std::u16string, int, std::less<>> yesCount_;
};

// "y", "yes", "д", "да" (either case): 1; "n", "no", "н", "нет": 0; otherwise -1.
int ParseAnswer(std::string line);
// "1 раз", "3 раза", "5 раз": the count with the word in its Russian form.
std::string TimesText(int count);
