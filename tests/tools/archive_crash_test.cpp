// An archive writer killed at any moment leaves the archive exactly as one of its commits
// left it: the writer child commits a known sequence and is killed with SIGKILL over and
// over, at random delays and inside Save.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "archive/tavrin_file_package.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "tools/commit_sequence.h"

using testsupport::ChildExit;
using testsupport::ChildProcess;
using testsupport::ChildResult;
using testsupport::ReadFileText;
using testsupport::RunChild;

namespace fs = std::filesystem;
using namespace commit_sequence;

namespace {

// Sanitizers slow every byte down; the work shrinks, the number of kills does not.
#ifdef __SANITIZE_ADDRESS__
constexpr uint32_t kScale = 1;
#else
constexpr uint32_t kScale = 4;
#endif
constexpr int kKills = 200;
constexpr uint64_t kDefaultSeed = 20240611;
constexpr double kLongestDelayMicroseconds = 50000;

uint64_t Seed() {
  const char* text = std::getenv("SOLMERE_CRASH_SEED");
  return text != nullptr ? std::strtoull(text, nullptr, 10) : kDefaultSeed;
}

uint64_t FileSize(const fs::path& file) {
  struct stat info {};
  return ::stat(file.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

void SleepMicroseconds(double microseconds) {
  std::this_thread::sleep_for(std::chrono::duration<double, std::micro>(microseconds));
}

// Every entry of the archive with its contents.
void ReadArchive(const fs::path& base, State* state) {
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(base.u16string(), kArchiveName), PackageResult::kOk);
  for (const auto& [key, record] : archive.index()) {
    const std::u16string name = TavrinFilePackage::NameOf(record);
    std::vector<uint8_t> contents;
    ASSERT_EQ(archive.GetFileData(name, true, &contents), PackageResult::kOk) << platform::Utf8FromUtf16(name);
    (*state)[name] = std::move(contents);
  }
}

std::string Differences(const State& found, const State& expected) {
  std::ostringstream text;
  for (const auto& [name, contents] : expected) {
    auto other = found.find(name);
    if (other == found.end())
      text << "missing " << platform::Utf8FromUtf16(name) << "\n";
    else if (other->second != contents)
      text << "different " << platform::Utf8FromUtf16(name) << " (" << other->second.size() << " bytes, expected "
           << contents.size() << ")\n";
  }
  for (const auto& [name, contents] : found)
    if (expected.count(name) == 0) text << "unexpected " << platform::Utf8FromUtf16(name) << "\n";
  return text.str();
}

uint32_t CommitOf(const State& state) {
  auto marker = state.find(FullName(kMarker));
  if (marker == state.end()) return UINT32_MAX;
  return static_cast<uint32_t>(std::stoul(std::string(marker->second.begin(), marker->second.end())));
}

class ArchiveCrashTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.made()) << "no temporary folder"; }

  testsupport::TempFolder temp_;
  const fs::path folder_ = temp_.path();
  const fs::path base_ = folder_ / "crash";
};

TEST_F(ArchiveCrashTest, EveryKillLeavesTheArchiveAtOneOfItsCommits) {
  const uint64_t seed = Seed();
  std::cout << "crash test seed " << seed << " (SOLMERE_CRASH_SEED=" << seed << " repeats it), scale " << kScale
            << std::endl;
  RecordProperty("seed", std::to_string(seed));
  std::mt19937_64 random(seed);

  State expected;
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(base_.u16string(), kArchiveName), PackageResult::kOk);
    for (const Step& step : CommitSteps(0, kScale))
      ASSERT_EQ(archive.SetFileData(step.name, step.contents.data(), static_cast<uint32_t>(step.contents.size())),
                PackageResult::kOk);
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
    archive.clearIndexChanged();
    Apply(CommitSteps(0, kScale), &expected);
  }
  uint32_t committed = 0;
  int aroundSave = 0;
  int beforeCommitPoint = 0;

  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill) + ", seed " + std::to_string(seed));
    // Every third run stops right before a Save and is killed inside it, by the time the
    // index reaches the file or after up to 2 ms; the others 1 us to 50 ms after opening.
    const bool pause = kill % 3 == 2;
    const fs::path errFile = folder_ / "writer.err";
    uint32_t saving = 0;
    std::vector<std::string> arguments{base_.string(), std::to_string(kScale)};
    if (pause) arguments.push_back("--pause");
    ChildProcess writer;
    ASSERT_TRUE(writer.Start(WRITER_PATH, arguments, {.error = errFile, .outputToPipe = true}));
    const std::optional<std::string> opened = writer.ReadLine(testsupport::kWaitLimit);
    ASSERT_TRUE(opened && opened->rfind("open ", 0) == 0) << "the writer did not open: " << ReadFileText(errFile);
    if (!pause) {
      SleepMicroseconds(
          std::exp(std::uniform_real_distribution<double>(0, std::log(kLongestDelayMicroseconds))(random)));
    } else {
      const std::optional<std::string> saveLine = writer.ReadLine(testsupport::kWaitLimit);
      ASSERT_TRUE(saveLine) << "the writer never came to its Save: " << ReadFileText(errFile);
      std::istringstream line(*saveLine);
      std::string word;
      uint64_t lengthBeforeSave = 0;
      ASSERT_TRUE(line >> word >> saving >> lengthBeforeSave && word == "save") << *saveLine;
      ASSERT_TRUE(writer.WaitStopped(testsupport::kWaitLimit)) << "the writer did not stop before its Save";
      const bool waitForIndex = random() % 2 == 0;
      const double delay = std::uniform_real_distribution<double>(0, 2000)(random);
      writer.Signal(SIGCONT);
      if (waitForIndex) {
        // Killed as soon as the index reaches the file, or after 5 s whatever happened.
        testsupport::WaitUntil([&] { return FileSize(base_.string() + ".pck") > lengthBeforeSave; },
                               std::chrono::seconds(5), std::chrono::milliseconds(0));
      } else {
        SleepMicroseconds(delay);
      }
      ++aroundSave;
    }
    writer.Signal(SIGKILL);
    const std::optional<ChildExit> exit = writer.Wait(testsupport::kWaitLimit);
    ASSERT_TRUE(exit) << "the writer did not end after SIGKILL";
    ASSERT_EQ(exit->signal, SIGKILL) << "the writer ended by itself: " << ReadFileText(errFile);

    State found;
    ASSERT_NO_FATAL_FAILURE(ReadArchive(base_, &found));
    const uint32_t commit = CommitOf(found);
    ASSERT_NE(commit, UINT32_MAX) << "no commit marker";
    ASSERT_GE(commit, committed) << "a completed commit was lost";
    if (pause && commit < saving) ++beforeCommitPoint;
    while (committed < commit) Apply(CommitSteps(++committed, kScale), &expected);
    ASSERT_TRUE(found == expected) << "after commit " << commit << ":\n" << Differences(found, expected);

    const ChildResult verified = RunChild(PCKTOOL_PATH, {"verify", base_.string()}, folder_);
    ASSERT_EQ(verified.exitCode, 0) << verified.err;
  }
  std::cout << kKills << " kills, " << committed << " commits reached, " << aroundSave << " kills around a Save ("
            << beforeCommitPoint << " of them before its commit point), archive " << FileSize(base_.string() + ".pck")
            << " bytes" << std::endl;
  EXPECT_GT(committed, 0u) << "the writer never got to commit: the kills tested nothing";
}

}  // namespace
