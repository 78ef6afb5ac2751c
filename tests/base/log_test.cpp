#include "base/log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

using testsupport::DecodeUtf16le;
using testsupport::EncodeUtf16le;
using testsupport::ReadWholeFile;
using testsupport::TempFolder;

namespace {

std::u16string LocalStamp() {
  std::time_t now = std::time(nullptr);
  char text[32] = {};
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

bool IsStamp(std::u16string_view text) {
  static const char16_t kShape[] = u"0000-00-00 00:00:00";
  if (text.size() != 19) return false;
  for (std::size_t i = 0; i < 19; ++i) {
    const bool digit = text[i] >= u'0' && text[i] <= u'9';
    if (kShape[i] == u'0' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

std::string Printable(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}

// The log lives for the whole process: each test opens a file of its own, and
// opening another one closes it so that it can be read.
class LogTest : public ::testing::Test {
 protected:
  std::u16string Path(const std::string& name) const { return folder_.U16(name); }
  std::u16string ReadLog(const std::string& name) const {
    Log::Open(folder_.U16("other.txt"));
    return DecodeUtf16le(ReadWholeFile(folder_ / name));
  }

  // Checks one time-stamped line at `at` and moves past it.
  void ExpectStampedLine(const std::u16string& text, std::size_t* at, std::u16string_view level,
                         std::u16string_view message, const std::u16string& before, const std::u16string& after) {
    const std::u16string_view rest = std::u16string_view(text).substr(*at);
    ASSERT_GE(rest.size(), 21u) << Printable(rest);
    EXPECT_EQ(rest[0], u'[');
    const std::u16string stamp(rest.substr(1, 19));
    EXPECT_TRUE(IsStamp(stamp)) << Printable(stamp);
    EXPECT_LE(before, stamp);
    EXPECT_GE(after, stamp);
    const std::u16string tail = u"] " + std::u16string(level) + u": " + std::u16string(message) + u"\r\n";
    EXPECT_EQ(Printable(rest.substr(20, tail.size())), Printable(tail));
    *at += 20 + tail.size();
  }

  TempFolder folder_;
};

TEST_F(LogTest, LinesAreUtf16LeWithTheirLayout) {
  const std::u16string before = LocalStamp();
  Log::Open(Path("log.txt"));
  Log::Info(u"\u0412\u0435\u0440\u0441\u0438\u044F \u043A\u043B\u0438\u0435\u043D\u0442\u0430: %d", 42);
  Log::Error(u"Can't load file from server: %s\n", u"files\\\u0434.txt");
  Log::InfoText(u"100%d %s %% kept");
  Log::Write(u"");
  Log::Write(u"%d%% of %s", 50, u"\u0436");
  Log::Info(u"end");
  const std::u16string after = LocalStamp();
  const std::vector<uint8_t> bytes = (Log::Open(Path("other.txt")), ReadWholeFile(folder_ / "log.txt"));

  // No byte-order mark: the file starts with "[" as one little-endian unit.
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], '[');
  EXPECT_EQ(bytes[1], 0);
  const std::u16string text = DecodeUtf16le(bytes);
  std::size_t at = 0;
  ExpectStampedLine(text, &at, u"INFO",
                    u"\u0412\u0435\u0440\u0441\u0438\u044F \u043A\u043B\u0438\u0435\u043D\u0442\u0430: 42", before,
                    after);
  // A message that ends in "\n" ends its line with LF CR LF.
  ExpectStampedLine(text, &at, u"ERROR", u"Can't load file from server: files\\\u0434.txt\n", before, after);
  ExpectStampedLine(text, &at, u"INFO", u"100%d %s %% kept", before, after);
  const std::u16string untimed = u"\r\n50% of \u0436\r\n";
  EXPECT_EQ(Printable(text.substr(at, untimed.size())), Printable(untimed));
  at += untimed.size();
  ExpectStampedLine(text, &at, u"INFO", u"end", before, after);
  EXPECT_EQ(at, text.size());

  // The Cyrillic letter "В" (U+0412) is stored as the bytes 12 04.
  const std::vector<uint8_t> cyrillic = EncodeUtf16le(u": \u0412");
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), cyrillic.begin(), cyrillic.end()), bytes.end());
}

TEST_F(LogTest, OpenTruncatesAndClosesThePreviousFile) {
  Log::Open(Path("log.txt"));
  Log::Write(u"first run");
  Log::Open(Path("second.txt"));
  // The first file is closed and complete while the second is open.
  EXPECT_EQ(DecodeUtf16le(ReadWholeFile(folder_ / "log.txt")), u"first run\r\n");
  Log::Write(u"into second");

  Log::Open(Path("log.txt"));
  EXPECT_TRUE(ReadWholeFile(folder_ / "log.txt").empty());
  Log::Write(u"second run");
  EXPECT_EQ(ReadLog("log.txt"), u"second run\r\n");
  EXPECT_EQ(DecodeUtf16le(ReadWholeFile(folder_ / "second.txt")), u"into second\r\n");
}

TEST_F(LogTest, LinesReachTheFileAtOnce) {
  Log::Open(Path("log.txt"));
  Log::Write(u"visible before close");
  // Read while the log still has the file open (POSIX locks are advisory; Windows
  // denies sharing, so only the size is looked at there).
  EXPECT_EQ(std::filesystem::file_size(folder_ / "log.txt"), 2 * std::u16string(u"visible before close\r\n").size());
  Log::Open(Path("other.txt"));
}

TEST_F(LogTest, FailedOpenLeavesTheLogClosed) {
  Log::Open(Path("log.txt"));
  Log::Write(u"kept");
  Log::Open(Path("missing-folder/log.txt"));
  Log::Write(u"dropped");
  Log::Error(u"dropped %d", 1);
  EXPECT_EQ(DecodeUtf16le(ReadWholeFile(folder_ / "log.txt")), u"kept\r\n");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "missing-folder"));
}

TEST_F(LogTest, ConcurrentWritersNeverMixLines) {
  constexpr int kThreads = 4;
  constexpr int kLines = 400;
  static constexpr char16_t kLine[] = u"\u043F\u043E\u0442\u043E\u043A %d \u0441\u0442\u0440\u043E\u043A\u0430 %d";
  Log::Open(Path("log.txt"));
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        if (i % 2 == 0) {
          Log::Info(kLine, t, i);
        } else {
          Log::Write(kLine, t, i);
        }
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  const std::u16string text = ReadLog("log.txt");

  std::vector<int> next(kThreads, 0);
  std::size_t at = 0;
  int lines = 0;
  while (at < text.size()) {
    const std::size_t end = text.find(u"\r\n", at);
    ASSERT_NE(end, std::u16string::npos);
    std::u16string line = text.substr(at, end - at);
    at = end + 2;
    ++lines;
    if (!line.empty() && line[0] == u'[') {
      ASSERT_TRUE(IsStamp(line.substr(1, 19))) << Printable(line);
      ASSERT_EQ(line.substr(20, 8), u"] INFO: ") << Printable(line);
      line = line.substr(28);
    }
    // Each thread's lines appear whole and in its own order: the line is the next
    // one of exactly one thread.
    int writer = -1;
    for (int t = 0; t < kThreads; ++t) {
      if (line == FormatText(kLine, t, next[t])) writer = t;
    }
    ASSERT_NE(writer, -1) << Printable(line);
    ++next[writer];
  }
  EXPECT_EQ(lines, kThreads * kLines);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}

}  // namespace
