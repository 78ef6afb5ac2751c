#include "base/log.h"

#include <ctime>

namespace {

// "%Y-%m-%d %H:%M:%S" of the local time; 19 units.
std::u16string TimeStamp() {
  std::time_t now = std::time(nullptr);
  char text[32] = {};
  // localtime's buffer is shared, but only the log asks for it, under its lock.
  const std::tm* local = std::localtime(&now);
  if (local == nullptr || std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", local) == 0) return {};
  std::u16string out;
  for (const char* c = text; *c != '\0'; ++c) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*c)));
  return out;
}

// Where the lines of this thread go while a Holding lives; null: to the file.
thread_local std::vector<std::u16string>* heldLines = nullptr;

}  // namespace

Log::Holding::Holding(std::vector<std::u16string>& lines) : outer_(heldLines) {
  heldLines = &lines;
}

Log::Holding::~Holding() {
  heldLines = outer_;
}

void Log::WriteHeld(const std::vector<std::u16string>& lines) {
  Log& log = Instance();
  std::lock_guard<std::mutex> lock(log.mutex_);
  for (const std::u16string& line : lines) WriteBytes(line);
}

Log& Log::Instance() {
  // Created on first use; thread-safe even when that first use happens on two threads.
  static Log log;
  return log;
}

bool Log::IsOpen() {
  Log& log = Instance();
  std::lock_guard<std::mutex> lock(log.mutex_);
  return log.file_.isOpen();
}

void Log::Open(const std::u16string& path) {
  Log& log = Instance();
  std::lock_guard<std::mutex> lock(log.mutex_);
  log.file_.Close();
  log.file_.Open(path, platform::FileMode::kCreate);
}

void Log::InfoText(std::u16string_view text) {
  WriteLine(u"INFO", text);
}

void Log::WriteLine(const char16_t* level, std::u16string_view message) {
  Log& log = Instance();
  std::lock_guard<std::mutex> lock(log.mutex_);
  if (!log.file_.isOpen()) return;
  std::u16string line;
  if (level != nullptr) {
    line.append(u"[").append(TimeStamp()).append(u"] ").append(level).append(u": ");
  }
  line.append(message).append(u"\r\n");
  if (heldLines != nullptr) {
    heldLines->push_back(std::move(line));
    return;
  }
  WriteBytes(line);
}

void Log::WriteBytes(std::u16string_view line) {
  Log& log = Instance();
  if (!log.file_.isOpen()) return;
  std::string bytes(line.size() * 2, '\0');
  for (std::size_t i = 0; i < line.size(); ++i) {
    bytes[2 * i] = static_cast<char>(line[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(line[i] >> 8);
  }
  // Write errors are ignored: there is nowhere to report them.
  log.file_.Write(bytes.data(), bytes.size());
  log.file_.Flush();
}
