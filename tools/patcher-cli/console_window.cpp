#include "console_window.h"

#include <algorithm>

#include "base/text_format.h"
#include "package_file.h"
#include "platform/text.h"
#include "run_report.h"
#include "workflow/string_table.h"

namespace {

std::string Utf8(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}

bool HasPercent(std::u16string_view format) {
  return format.find(u"%d") != std::u16string_view::npos;
}

bool IsFilesStep(std::u16string_view format) {
  return format == Text(TextId::kCheckingFiles) || format == Text(TextId::kUpdatingFiles);
}

}  // namespace

ConsoleWindow::ConsoleWindow(ProgressCounters& progress, Settings settings)
    : progress_(progress), settings_(settings), questions_(settings.rules, settings.out) {
  step_.start = Clock::now();
}

void ConsoleWindow::SetCauseHook(std::function<void(const FailureCause&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  causeHook_ = std::move(hook);
}

void ConsoleWindow::SetStatus(std::u16string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == status_) return;
  status_ = text;
  if (!settings_.terminal && !status_.empty()) Write(Utf8(status_) + "\n");
}

void ConsoleWindow::SetVersionLine(std::u16string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!firstClientVersion_) firstClientVersion_ = VersionOfLine(text);
  if (text == version_) return;
  version_ = text;
  if (!settings_.terminal && !version_.empty()) Write(Utf8(version_) + "\n");
}

void ConsoleWindow::SetStepFormat(std::u16string_view format) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (format == step_.format) return;
  EndStep(format);
  step_ = Step{};
  step_.format = format;
  step_.start = Clock::now();
  step_.startBytes = progress_.Read().bytesReceived;
  if (format.empty() || HasPercent(format)) return;
  if (format == lastFixedStep_) return;
  lastFixedStep_ = format;
  if (!settings_.terminal) Write(Utf8(format) + "\n");
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

bool ConsoleWindow::CanChooseFiles() const {
  return settings_.rules.interactive && !settings_.rules.answerYes;
}

bool ConsoleWindow::ChooseManualPackage(std::u16string& path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ClosePanel();
    asking_ = true;
  }
  bool chosen = false;
  for (;;) {
    std::u16string typed = path;
    if (!questions_.AskPath(typed)) break;
    std::string why;
    if (CheckPackageFile(typed, &why)) {
      path = typed;
      chosen = true;
      break;
    }
    std::fprintf(stderr, "patcher-cli: %s\n", why.c_str());
    std::fflush(stderr);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  asking_ = false;
  return chosen;
}

void ConsoleWindow::ShowCause(const FailureCause& cause) {
  std::function<void(const FailureCause&)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ClosePanel();
    hook = causeHook_;
  }
  if (hook) hook(cause);
}

void ConsoleWindow::SetSpeedText(const std::u16string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  speed_ = text;
}

void ConsoleWindow::EndCycle() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (asking_) return;
  if (settings_.terminal) {
    Redraw();
    return;
  }
  if (!StepHasPercent()) return;
  // A line per tenth of the way; 0 % says nothing the status line did not, and the end
  // of the step gets its own line.
  const int percent = WholePercent(StepFraction());
  const int tenth = percent / 10;
  if (percent <= 0 || percent >= 100 || tenth == step_.printedTenth) return;
  step_.printedTenth = tenth;
  step_.printedPercent = percent;
  Write(StepLine(percent) + DownloadText(false) + "\n");
}

void ConsoleWindow::Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClosePanel();
  Write(text + "\n");
}

void ConsoleWindow::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!settings_.terminal) return;
  Redraw();
  ClosePanel();
}

int64_t ConsoleWindow::filesChecked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return filesChecked_;
}

std::optional<int32_t> ConsoleWindow::firstClientVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return firstClientVersion_;
}

bool ConsoleWindow::StepHasPercent() const {
  return HasPercent(step_.format);
}

double ConsoleWindow::StepFraction() const {
  // The window's bar shows items here, which a download has none of; the console shows
  // how far the package has come instead.
  const ProgressCounters::Figures figures = progress_.Read();
  if (step_.format == Text(TextId::kLoadingPackage)) return ProgressFraction(figures.readsDone, figures.readsTotal);
  return ProgressFraction(figures.itemsDone, figures.itemsTotal);
}

uint64_t ConsoleWindow::StepBytes() const {
  return progress_.Read().bytesReceived - step_.startBytes;
}

std::string ConsoleWindow::StepLine(int percent) const {
  return Utf8(FormatText(step_.format, std::clamp(percent, 0, 100)));
}

std::string ConsoleWindow::DownloadText(bool finished) const {
  const uint64_t bytes = StepBytes();
  if (bytes == 0) return {};
  const double elapsed = std::chrono::duration<double>(Clock::now() - step_.start).count();
  std::string text = ", получено " + ByteText(bytes);
  if (finished) return text + " за " + DurationText(elapsed);
  if (step_.format == Text(TextId::kLoadingPackage)) {
    const uint32_t declared = progress_.Read().transferLength;
    if (declared > 0) text += " из " + ByteText(declared);
  }
  if (!speed_.empty()) text += ", " + Utf8(speed_);
  const int32_t atOnce = progress_.Read().downloadsAtOnce;
  if (atOnce > 1) text += ", соединений: " + std::to_string(atOnce);
  // From the way the step has come so far: the same rate for the rest.
  const double fraction = StepFraction();
  if (fraction >= 0.01 && fraction < 1.0 && elapsed >= 1.0)
    text += ", осталось около " + DurationText(elapsed * (1.0 - fraction) / fraction);
  return text;
}

void ConsoleWindow::EndStep(std::u16string_view next) {
  if (!StepHasPercent()) return;
  if (IsFilesStep(step_.format)) filesChecked_ += std::max(progress_.Read().itemsDone, 0);
  // Only a package that is then applied was downloaded; without one (none listed, or a
  // download that broke off) the file list takes over, and this step leaves no line.
  if (step_.format == Text(TextId::kLoadingPackage) && next != Text(TextId::kUpdatingFiles)) return;
  const int percent = WholePercent(StepFraction());
  const bool received = StepBytes() > 0;
  if (settings_.terminal) {
    // The panel shows the running step; a finished one stays above it as a line.
    if (percent <= 0 && !received) return;
    ClearPanel();
    Write(StepLine(percent) + DownloadText(true) + "\n");
    return;
  }
  // A step that never moved (a package that was not there) leaves no line; one whose last
  // line already said where it ended needs no second one.
  if (percent <= 0 && step_.printedPercent < 0 && !received) return;
  if (percent == step_.printedPercent && !received) return;
  Write(StepLine(percent) + DownloadText(true) + "\n");
}

void ConsoleWindow::Redraw() {
  // Only a running step downloads: a version asked for between steps shows no line.
  std::string download;
  if (StepHasPercent() && StepBytes() > 0) {
    const ProgressCounters::Figures figures = progress_.Read();
    const int percent = WholePercent(ProgressFraction(figures.readsDone, figures.readsTotal));
    // The text starts with ", ".
    download = "Загрузка: " + std::to_string(std::clamp(percent, 0, 100)) + "%" + DownloadText(false);
  }
  const std::string lines[] = {Utf8(status_), Utf8(version_),
                               StepHasPercent() ? StepLine(WholePercent(StepFraction())) : Utf8(step_.format),
                               download};
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

void ConsoleWindow::ClearPanel() {
  if (panelLines_ == 0) return;
  std::string text;
  if (panelLines_ > 1) text += "\x1b[" + std::to_string(panelLines_ - 1) + "A";
  // From the panel's first line to the end of the screen.
  text += "\r\x1b[J";
  Write(text);
  panelLines_ = 0;
}

void ConsoleWindow::Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), settings_.out);
  std::fflush(settings_.out);
}
