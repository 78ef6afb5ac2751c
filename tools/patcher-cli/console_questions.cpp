#include "console_questions.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/terminal.h"
#include "platform/text.h"
#include "workflow/disk_full_text.h"
#include "workflow/string_table.h"
#include "workflow/workflow_window.h"

namespace {

std::string Utf8(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}

// One line from the standard input without its line end; false at its end.
bool ReadLine(std::string& line) {
  char buffer[1024];
  if (std::fgets(buffer, sizeof buffer, stdin) == nullptr) return false;
  line = buffer;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

// Questions whose yes means "try the failed step again".
bool IsRetry(std::u16string_view secondLine) {
  return secondLine == Text(TextId::kServerErrorRetry) || secondLine == Text(TextId::kListErrorRetry) ||
         secondLine == Text(TextId::kFileErrorRetry) || secondLine == kManualWriteFailed ||
         IsDiskFullQuestion(secondLine);
}

// What the yes answers are counted under: a full disk is one question, whatever bytes it names.
std::u16string_view CountedAs(std::u16string_view secondLine) {
  return IsDiskFullQuestion(secondLine) ? std::u16string_view(u"на диске нет места") : secondLine;
}

}  // namespace

int ParseAnswer(std::string line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  while (!line.empty() && line.front() == ' ') line.erase(line.begin());
  for (char& c : line)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (line == "y" || line == "yes" || line == "д" || line == "Д" || line == "да" || line == "Да" || line == "ДА")
    return 1;
  if (line == "n" || line == "no" || line == "н" || line == "Н" || line == "нет" || line == "Нет" || line == "НЕТ")
    return 0;
  return -1;
}

std::string TimesText(int count) {
  const int lastTwo = count % 100;
  const int last = count % 10;
  const bool few = last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14);
  return std::to_string(count) + (few ? " раза" : " раз");
}

int ConsoleQuestions::PauseBeforeRetry(std::u16string_view secondLine, int seconds, int answeredYes) {
  if (!IsRetry(secondLine)) return 0;
  if (seconds > 0) return seconds;
  return 1 << std::min(answeredYes, 2);
}

void ConsoleQuestions::Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

int ConsoleQuestions::Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) {
  std::string text = "? " + Utf8(firstLine) + "\n";
  std::u16string_view rest = secondLine;
  while (!rest.empty()) {
    const std::size_t end = rest.find(u'\n');
    const std::u16string_view line = rest.substr(0, end);
    text += (line.empty() ? "" : "  ") + Utf8(line) + "\n";
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
  }
  Print(text);
  if (platform::InterruptRequested()) {
    Print("  -> нет (Ctrl+C)\n");
    return kAnswerNo;
  }
  if (rules_.answerYes)
    return UnattendedYes(secondLine, PauseBeforeRetry(secondLine, seconds, AnsweredYes(secondLine)));
  if (rules_.interactive) return AskTerminal(seconds);
  if (seconds <= 0) {
    Print("  -> нет (ответить некому: нет терминала)\n");
    return kAnswerNo;
  }
  // The count-down's own figure, as the README and --help say it.
  return UnattendedYes(secondLine, seconds);
}

int ConsoleQuestions::AnsweredYes(std::u16string_view secondLine) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = yesCount_.find(CountedAs(secondLine));
  return found == yesCount_.end() ? 0 : found->second;
}

int ConsoleQuestions::UnattendedYes(std::u16string_view secondLine, int pauseSeconds) {
  const int count = AnsweredYes(secondLine);
  if (count >= kMaxUnattendedYes) {
    Print("  -> нет (на этот вопрос уже " + TimesText(count) + " ответили «да»)\n");
    return kAnswerNo;
  }
  if (pauseSeconds > 0) {
    Print("  -> да через " + std::to_string(pauseSeconds) + " с, если не нажать Ctrl+C\n");
    if (!WaitSeconds(pauseSeconds)) {
      Print("  -> нет (Ctrl+C)\n");
      return kAnswerNo;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++yesCount_[std::u16string(CountedAs(secondLine))];
  }
  Print("  -> да\n");
  return kAnswerYes;
}

int ConsoleQuestions::AskTerminal(int seconds) {
  int remaining = seconds;
  for (;;) {
    std::string prompt = "\r\x1b[2K  [д/н]";
    if (seconds > 0) prompt += " (" + std::to_string(remaining) + ")";
    Print(prompt + ": ");
    // One second of the count-down, again after each line that is no answer; Ctrl+C ends
    // the wait at once.
    for (;;) {
      const bool typed = platform::WaitForInput(1000);
      if (platform::InterruptRequested()) {
        Print("\n  -> нет (Ctrl+C)\n");
        return kAnswerNo;
      }
      if (!typed) break;
      std::string line;
      if (!ReadLine(line)) {
        Print("\n  -> нет (ввод закончился)\n");
        return kAnswerNo;
      }
      const int answer = ParseAnswer(line);
      if (answer >= 0) return answer == 1 ? kAnswerYes : kAnswerNo;
      Print("  ответьте д или н (y или n)\n");
      Print(prompt + ": ");
    }
    if (seconds > 0) {
      if (remaining == 0) {
        Print("\n  -> да (отсчёт закончился)\n");
        return kAnswerYes;
      }
      --remaining;
    }
  }
}

bool ConsoleQuestions::AskPath(std::u16string& path) {
  if (!rules_.interactive || rules_.answerYes) {
    Print("  (файл пакета не выбран: выбрать его некому)\n");
    return false;
  }
  Print("  Файл пакета обновления (пустая строка — не выбирать): ");
  for (;;) {
    const bool typed = platform::WaitForInput(60 * 1000);
    if (platform::InterruptRequested()) return false;
    if (!typed) continue;
    std::string line;
    if (!ReadLine(line) || line.empty()) return false;
    path = platform::Utf16FromUtf8(line);
    return true;
  }
}

bool ConsoleQuestions::WaitSeconds(int seconds) {
  return !platform::WaitForInterrupt(seconds * 1000);
}
