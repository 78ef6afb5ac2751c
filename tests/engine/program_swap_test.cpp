// The updater's own programs swapped in: a whole swap, a swap cut short by a kill after each of
// its steps and finished by the next start, and what is refused before anything moves.

#include "engine/program_swap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "base/number_file.h"
#include "engine/program_swap_scenario.h"
#include "support/child_process.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/utf8_path.h"

namespace fs = std::filesystem;
using testsupport::ReadFileText;
using testsupport::WriteWholeFile;

namespace {

class ProgramSwapTest : public ::testing::Test {
 protected:
  void SetUp() override { log_.Open(logFolder_ / "log.txt"); }
  void TearDown() override { testsupport::ProcessLog::Close(); }

  fs::path Target() const { return root_.path() / "patcher"; }
  fs::path Staging() const { return root_.path() / "config" / "patcher" / "update"; }
  fs::path VersionFile() const { return root_.path() / "config" / "patcher" / "version.sw"; }
  static fs::path Below(const fs::path& folder, const std::u16string& name) {
    std::u16string slashed = name;
    for (char16_t& unit : slashed)
      if (unit == u'\\') unit = u'/';
    return folder / fs::path(slashed);
  }
  // The old updater in place at version 6, the new one's files staged.
  void Prepare() {
    fs::remove_all(root_.path());
    fs::create_directories(Target());
    for (int i = 0; i < 12; ++i) {
      Put(Below(Target(), testsupport::ReplacedName(i)), "old " + std::to_string(i));
      Put(Below(Staging() / "new", testsupport::ReplacedName(i)), "new " + std::to_string(i));
    }
    for (int i = 0; i < 3; ++i) Put(Below(Target(), testsupport::RemovedName(i)), "gone");
    Put(Target() / "keep.txt", "kept");
    ASSERT_TRUE(WriteNumberFile(VersionFile().u16string(), 6));
  }
  static void Put(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    WriteWholeFile(path, text);
  }
  // Every file of the updater's folder with its text.
  std::map<std::string, std::string> TargetFiles() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(Target()))
      if (entry.is_regular_file())
        files[entry.path().lexically_relative(Target()).generic_string()] = ReadFileText(entry.path());
    return files;
  }
  std::map<std::string, std::string> NewFiles() const {
    std::map<std::string, std::string> files;
    for (int i = 0; i < 12; ++i)
      files[Below(fs::path(), testsupport::ReplacedName(i)).generic_string()] = "new " + std::to_string(i);
    files["keep.txt"] = "kept";
    return files;
  }
  // The scenario's swap in a child process that ends, as a kill would, after step `killAt`.
  void RunKilledAfter(int killAt) const {
    testsupport::ChildProcess child;
    ASSERT_TRUE(child.Start(PROGRAM_SWAP_CHILD_PATH, {testsupport::U8String(Staging()), testsupport::U8String(Target()),
                                                      testsupport::U8String(VersionFile()), std::to_string(killAt)}));
    const std::optional<testsupport::ChildExit> exit = child.Wait(std::chrono::seconds(60));
    ASSERT_TRUE(exit) << "the child did not end within 60 s";
    EXPECT_EQ(exit->exitCode, 9);
  }
  ProgramSwap Swap(ProgramSwap::StepHook hook = {}) const {
    return ProgramSwap(Staging().u16string(), VersionFile().u16string(), std::move(hook));
  }

  testsupport::TempFolder root_;
  testsupport::TempFolder logFolder_;
  testsupport::ProcessLog log_;
};

TEST_F(ProgramSwapTest, AWholeSwapLeavesTheNewVersionAndNothingStaged) {
  Prepare();
  int steps = 0;
  ASSERT_TRUE(Swap([&] { ++steps; }).Run(testsupport::SwapPlan(Target())));
  EXPECT_EQ(TargetFiles(), NewFiles());
  EXPECT_EQ(ReadNumberFile(VersionFile().u16string()), testsupport::kSwapVersion);
  EXPECT_FALSE(fs::exists(Staging()));
  EXPECT_EQ(steps, 31) << "journal, 12 x (aside, in), 3 removals, version, journal gone, staging gone";
  EXPECT_EQ(Swap().Recover(), ProgramSwap::Recovery::kNothing);
}

// Killed after each of its 31 steps (and before the first): the next start finishes the swap, or
// finds the old updater whole when the journal never got written.
TEST_F(ProgramSwapTest, ASwapKilledAtAnyStepIsFinishedByTheNextStart) {
  for (int killAt = 1; killAt <= 31; ++killAt) {
    SCOPED_TRACE("killed after step " + std::to_string(killAt));
    Prepare();
    ASSERT_NO_FATAL_FAILURE(RunKilledAfter(killAt));
    // Whatever the moment, every program file is there, old or new: a start never finds none.
    for (int i = 0; i < 12; ++i)
      EXPECT_TRUE(fs::is_regular_file(Below(Target(), testsupport::ReplacedName(i)))) << "file " << i << " is missing";
    const ProgramSwap::Recovery recovery = Swap().Recover();
    EXPECT_EQ(recovery, killAt < 30 ? ProgramSwap::Recovery::kFinished : ProgramSwap::Recovery::kNothing);
    EXPECT_EQ(TargetFiles(), NewFiles());
    EXPECT_EQ(ReadNumberFile(VersionFile().u16string()), testsupport::kSwapVersion);
    // What a kill after the journal went leaves is cleared before the next staging.
    Swap().ClearStaging();
    EXPECT_FALSE(fs::exists(Staging()));
  }
}

// Undone instead after each kill: the old updater comes back whole, unless the version was
// written, when the swap is over and is finished.
TEST_F(ProgramSwapTest, ASwapKilledBeforeItsVersionIsUndoneWhole) {
  Prepare();
  const std::map<std::string, std::string> old = TargetFiles();
  for (int killAt = 1; killAt <= 31; ++killAt) {
    SCOPED_TRACE("killed after step " + std::to_string(killAt));
    Prepare();
    ASSERT_NO_FATAL_FAILURE(RunKilledAfter(killAt));
    EXPECT_TRUE(Swap().RollBack());
    const bool versionWritten = killAt >= 29;
    EXPECT_EQ(TargetFiles(), versionWritten ? NewFiles() : old);
    EXPECT_EQ(ReadNumberFile(VersionFile().u16string()), versionWritten ? testsupport::kSwapVersion : 6);
    EXPECT_FALSE(fs::exists(Staging() / "journal"));
    EXPECT_EQ(Swap().Recover(), ProgramSwap::Recovery::kNothing);
  }
}

TEST_F(ProgramSwapTest, NothingMovesWhenTheSwapCannotStart) {
  Prepare();
  const std::map<std::string, std::string> before = TargetFiles();
  ProgramSwapPlan missing = testsupport::SwapPlan(Target());
  missing.replaced.push_back(u"not-staged.bin");
  ProgramSwapPlan unsafe = testsupport::SwapPlan(Target());
  unsafe.replaced.push_back(u"..\\..\\outside.bin");
  for (const ProgramSwapPlan* plan : {&missing, &unsafe}) {
    EXPECT_FALSE(Swap().Run(*plan));
    EXPECT_EQ(TargetFiles(), before);
    EXPECT_EQ(ReadNumberFile(VersionFile().u16string()), 6);
    EXPECT_EQ(Swap().Recover(), ProgramSwap::Recovery::kNothing) << "no journal was written";
  }
  // A damaged journal is said to be one and moves nothing.
  Put(Staging() / "journal", "solmere-program-swap 1\nversion x\n");
  EXPECT_EQ(Swap().Recover(), ProgramSwap::Recovery::kFailed);
  EXPECT_EQ(TargetFiles(), before);
}

}  // namespace
