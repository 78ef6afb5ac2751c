#include "console_window.h"

#include <cstdio>

#include "app/text_format.h"
#include "platform/text.h"

namespace {

void Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string Utf8(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}

}  // namespace

void ConsoleWindow::SetStatus(std::u16string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == status_) return;
  status_ = text;
  if (!terminal_ && !status_.empty()) PrintLine(Utf8(status_));
}

void ConsoleWindow::SetVersionLine(std::u16string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == version_) return;
  version_ = text;
  if (!terminal_ && !version_.empty()) PrintLine(Utf8(version_));
}

void ConsoleWindow::SetStepFormat(std::u16string_view format) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (format == step_) return;
  step_ = format;
  printedTenth_ = -1;
  // A step without a percentage ("Операция отменена") is shown once as it stands.
  if (!terminal_ && !step_.empty() && step_.find(u"%d") == std::u16string::npos) PrintLine(Utf8(step_));
}

int ConsoleWindow::Ask(std::u16string_view firstLine, std::u16string_view secondLine, int seconds) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ClosePanel();
    asking_ = true;
  }
  const int answer = questions_.Ask(firstLine, secondLine, seconds);
  std::lock_guard<std::mutex> lock(mutex_);
  asking_ = false;
  return answer;
}

bool ConsoleWindow::ChooseManualPackage(std::u16string& path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ClosePanel();
    asking_ = true;
  }
  const bool chosen = questions_.AskPath(path);
  std::lock_guard<std::mutex> lock(mutex_);
  asking_ = false;
  return chosen;
}

void ConsoleWindow::SetTotalFraction(double fraction) {
  std::lock_guard<std::mutex> lock(mutex_);
  total_ = fraction;
}

void ConsoleWindow::SetCurrentFraction(double fraction) {
  std::lock_guard<std::mutex> lock(mutex_);
  current_ = fraction;
}

void ConsoleWindow::SetSpeedText(const std::u16string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  speed_ = text;
}

void ConsoleWindow::EndCycle() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (asking_) return;
  if (terminal_) {
    Redraw();
    return;
  }
  if (step_.find(u"%d") == std::u16string::npos) return;
  const int tenth = WholePercent(total_) / 10;
  if (tenth == printedTenth_) return;
  printedTenth_ = tenth;
  std::string line = StepLine();
  if (!speed_.empty()) line += "  " + Utf8(speed_);
  PrintLine(line);
}

void ConsoleWindow::Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClosePanel();
  Write(text + "\n");
}

void ConsoleWindow::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) {
    Redraw();
    ClosePanel();
  }
}

std::string ConsoleWindow::StepLine() const {
  return Utf8(FormatText(step_, WholePercent(total_)));
}

std::string ConsoleWindow::DownloadLine() const {
  if (speed_.empty() && (current_ <= 0.0 || current_ >= 1.0)) return {};
  std::string line = "Загрузка: " + std::to_string(WholePercent(current_)) + "%";
  if (!speed_.empty()) line += "  " + Utf8(speed_);
  return line;
}

void ConsoleWindow::Redraw() {
  const std::string lines[] = {Utf8(status_), Utf8(version_), StepLine(), DownloadLine()};
  std::string text;
  // Back to the panel's first line, then each line cleared and written again.
  if (panelLines_ > 1) text += "\x1b[" + std::to_string(panelLines_ - 1) + "A";
  text += "\r";
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    text += "\x1b[2K" + lines[i];
    if (i + 1 < std::size(lines)) text += "\n";
  }
  panelLines_ = static_cast<int>(std::size(lines));
  Write(text);
}

void ConsoleWindow::ClosePanel() {
  if (panelLines_ == 0) return;
  Write("\n");
  panelLines_ = 0;
}

void ConsoleWindow::PrintLine(const std::string& line) {
  Write(line + "\n");
}
