#include "console_questions.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/terminal.h"
#include "platform/text.h"
#include "workflow/workflow_window.h"

namespace {

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

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

}  // namespace

int ParseAnswer(std::string line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  while (!line.empty() && line.front() == ' ') line.erase(line.begin());
  for (char& c : line)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (line == "y" || line == "yes" || line == "д" || line == "Д" || line == "да" || line == "Да") return 1;
  if (line == "n" || line == "no" || line == "н" || line == "Н" || line == "нет" || line == "Нет") return 0;
  return -1;
}

int ConsoleQuestions::Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) {
  std::string text = "? " + Utf8(firstLine) + "\n";
  std::u16string_view rest = secondLine;
  while (!rest.empty()) {
    const std::size_t end = rest.find(u'\n');
    text += "  " + Utf8(rest.substr(0, end)) + "\n";
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
  }
  Print(text);
  if (platform::InterruptRequested()) {
    Print("  -> нет (Ctrl+C)\n");
    return kAnswerNo;
  }
  if (rules_.answerYes) return UnattendedYes(secondLine);
  if (rules_.interactive) return AskTerminal(seconds);
  if (seconds <= 0) {
    Print("  -> нет (no terminal to answer)\n");
    return kAnswerNo;
  }
  Print("  -> yes in " + std::to_string(seconds + 1) + " s unless Ctrl+C\n");
  if (!WaitSeconds(seconds + 1)) {
    Print("  -> нет (Ctrl+C)\n");
    return kAnswerNo;
  }
  return UnattendedYes(secondLine);
}

int ConsoleQuestions::UnattendedYes(std::u16string_view secondLine) {
  std::lock_guard<std::mutex> lock(mutex_);
  int& count = yesCount_[std::u16string(secondLine)];
  if (count >= kMaxUnattendedYes) {
    Print("  -> нет (answered yes " + std::to_string(count) + " times already)\n");
    return kAnswerNo;
  }
  ++count;
  Print("  -> да\n");
  return kAnswerYes;
}

int ConsoleQuestions::AskTerminal(int seconds) {
  int remaining = seconds;
  for (;;) {
    std::string prompt = "\r\x1b[2K  [y/n]";
    if (seconds > 0) prompt += " (" + std::to_string(remaining) + ")";
    Print(prompt + ": ");
    // One second in short waits, so Ctrl+C is noticed at once.
    for (int tenth = 0; tenth < 10; ++tenth) {
      if (platform::InterruptRequested()) {
        Print("\n  -> нет (Ctrl+C)\n");
        return kAnswerNo;
      }
      if (!platform::WaitForInput(100)) continue;
      std::string line;
      if (!ReadLine(line)) {
        Print("\n  -> нет (end of input)\n");
        return kAnswerNo;
      }
      const int answer = ParseAnswer(line);
      if (answer >= 0) return answer == 1 ? kAnswerYes : kAnswerNo;
      Print("  y or n, please\n");
      tenth = -1;
      Print(prompt + ": ");
    }
    if (seconds > 0) {
      if (remaining == 0) {
        Print("\n  -> да (count-down ended)\n");
        return kAnswerYes;
      }
      --remaining;
    }
  }
}

bool ConsoleQuestions::AskPath(std::u16string& path) {
  if (!rules_.interactive || rules_.answerYes) {
    Print("  (no package file chosen: nobody at the terminal)\n");
    return false;
  }
  Print("  Update package file (empty: none): ");
  for (;;) {
    if (platform::InterruptRequested()) return false;
    if (!platform::WaitForInput(100)) continue;
    std::string line;
    if (!ReadLine(line) || line.empty()) return false;
    path = platform::Utf16FromUtf8(line);
    return true;
  }
}

bool ConsoleQuestions::WaitSeconds(int seconds) {
  for (int tenth = 0; tenth < seconds * 10; ++tenth) {
    if (platform::InterruptRequested()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}
