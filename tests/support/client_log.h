#pragma once
// The updater's log read back by tests: "log.txt" is UTF-16LE without a byte-order mark.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/log.h"
#include "platform/text.h"
#include "support/file_bytes.h"

namespace testsupport {

inline std::u16string DecodeUtf16le(const std::vector<uint8_t>& bytes) {
  EXPECT_EQ(bytes.size() % 2, 0u) << "a UTF-16 unit was cut";
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return text;
}

inline std::vector<uint8_t> EncodeUtf16le(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

// A log file as UTF-8; empty when there is none.
inline std::string ReadLogUtf8(const std::filesystem::path& file) {
  return platform::Utf8FromUtf16(DecodeUtf16le(ReadWholeFile(file)));
}

// The log this process writes through Log, read while the test runs. Log holds its file
// for exclusive use (on Windows nobody else can read it meanwhile) and empties it when it
// opens it, so each read closes it, keeps what it held and opens it afresh.
class ProcessLog {
 public:
  // Starts the log in `file`, forgetting what was read from earlier ones.
  void Open(const std::filesystem::path& file) {
    file_ = file;
    text_.clear();
    Log::Open(file.u16string());
  }
  // Closes the log: later lines are dropped.
  static void Close() { Log::Open(u""); }
  // Everything logged since Open, as UTF-8.
  std::string Text() {
    Close();
    text_ += ReadLogUtf8(file_);
    Log::Open(file_.u16string());
    return text_;
  }

 private:
  std::filesystem::path file_;
  std::string text_;
};

}  // namespace testsupport
