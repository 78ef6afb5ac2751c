// A process of its own: the log must never have been opened before these writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/log.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

using testsupport::DecodeUtf16le;
using testsupport::ReadWholeFile;
using testsupport::TempFolder;

namespace {

TEST(LogBeforeOpenTest, WritesAreDroppedAndCreateNothing) {
  TempFolder folder;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  Log::Info(u"before %d", 1);
  Log::Error(u"before %s", u"open");
  Log::InfoText(u"before");
  Log::Write(u"before");
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

  Log::Open(u"log.txt");
  Log::Write(u"after");
  Log::Open(folder.U16("other.txt"));
  std::filesystem::current_path(previous);
  EXPECT_EQ(DecodeUtf16le(ReadWholeFile(folder / "log.txt")), u"after\r\n");
}

}  // namespace
