#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/file.h"
#include "platform/text.h"
#include "support/temp_folder.h"

namespace {

// Runs the rest of a test in another current folder, and goes back afterwards.
class CurrentFolderChange {
 public:
  explicit CurrentFolderChange(const std::filesystem::path& folder) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~CurrentFolderChange() {
    std::error_code ignored;
    std::filesystem::current_path(before_, ignored);
  }
  CurrentFolderChange(const CurrentFolderChange&) = delete;
  CurrentFolderChange& operator=(const CurrentFolderChange&) = delete;

 private:
  std::filesystem::path before_;
};

// The updater finds the client beside its own folder, so the answer may depend neither on
// the folder it was started from nor on how it was started.
TEST(ProgramFolderTest, IsTheFolderOfTheRunningProgramWhateverTheCurrentFolder) {
  const std::u16string folder = platform::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), u'/') << "no trailing separator";
  EXPECT_NE(folder.back(), u'\\') << "no trailing separator";
  const std::u16string program = folder + u"/" + platform::Utf16FromUtf8(SOLMERE_TEST_PROGRAM_FILE);
  EXPECT_TRUE(platform::FileExists(program)) << platform::Utf8FromUtf16(program) << " is not this test program";

  testsupport::TempFolder elsewhere;
  ASSERT_TRUE(elsewhere.made());
  const CurrentFolderChange change(elsewhere.path());
  EXPECT_EQ(platform::Utf8FromUtf16(platform::ProgramFolder()), platform::Utf8FromUtf16(folder));
}

}  // namespace
