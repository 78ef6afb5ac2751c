#pragma once
// The process-wide log: one UTF-16LE file (no byte-order mark), emptied when opened,
// written line by line as things happen (nothing is held back in a buffer).
//
// Time-stamped lines read "[2024-01-31 09:05:00] INFO: message" + CR LF, untimed
// lines just the message + CR LF. Messages are written exactly as formatted: a "\n"
// inside one stays a single LF. Everything written before the first Open is dropped.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_format.h"
#include "platform/file.h"

class Log {
 public:
  // Closes the file already open, then creates or empties `path`. When that fails
  // the log stays closed and later writes are dropped.
  static void Open(const std::u16string& path);

  template <typename... Args>
  static void Info(std::u16string_view format, const Args&... args) {
    if (IsOpen()) WriteLine(u"INFO", FormatText(format, args...));
  }
  template <typename... Args>
  static void Error(std::u16string_view format, const Args&... args) {
    if (IsOpen()) WriteLine(u"ERROR", FormatText(format, args...));
  }
  // An INFO line whose message is `text` as it stands: a "%" in it is no conversion.
  static void InfoText(std::u16string_view text);
  // A line without time stamp and level.
  template <typename... Args>
  static void Write(std::u16string_view format, const Args&... args) {
    if (IsOpen()) WriteLine(nullptr, FormatText(format, args...));
  }

  // While one lives, the lines its thread writes are held in `lines` (whole, time stamp and
  // all) instead of going out: work done ahead of its turn has them written when its turn
  // comes (WriteHeld), so that the log reads as if it had been done then.
  class Holding {
   public:
    explicit Holding(std::vector<std::u16string>& lines);
    ~Holding();
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;

   private:
    std::vector<std::u16string>* const outer_;
  };
  static void WriteHeld(const std::vector<std::u16string>& lines);

 private:
  Log() = default;
  static Log& Instance();
  static bool IsOpen();
  // Each line goes out in one write under the lock, so lines of several threads
  // never mix and no UTF-16 unit is ever split.
  static void WriteLine(const char16_t* level, std::u16string_view message);
  // One whole line to the file; the caller holds the lock.
  static void WriteBytes(std::u16string_view line);

  std::mutex mutex_;
  platform::File file_;
};
