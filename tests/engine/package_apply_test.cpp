// An update package that publish made from two releases of the sample client, applied to
// real files as the updater applies it: on one thread and on several the client comes out
// the same, byte for byte, holding the newer release; and an application killed anywhere
// leaves every archive able to open and no version recorded, so that the next application
// finishes the update.

#include "engine/package_apply.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"
#include "engine/busy_flag.h"
#include "engine/client_archive_set.h"
#include "engine/client_archives.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/utf8_path.h"
#include "tools/publish_fixture.h"

namespace {

namespace fs = std::filesystem;
using publish_test::ClientImage;
using publish_test::ParsePackage;
using publish_test::ReadClient;
using publish_test::Snapshot;
using testsupport::ChildResult;
using testsupport::U8String;

class PackageApplyTest : public ::testing::Test {
 protected:
  // Two releases of the sample client and the package between them, made once for the tests.
  static void SetUpTestSuite() {
    releases_ = new testsupport::TempFolder("package-apply");
    ASSERT_TRUE(releases_->made()) << "no temporary folder";
    const fs::path root = releases_->path();
    fs::create_directories(root / "scratch");
    const auto publish = [&](const std::vector<std::string>& arguments) {
      const ChildResult result = testsupport::RunChild(PUBLISH_PATH, arguments, root / "scratch");
      ASSERT_EQ(result.exitCode, 0) << "publish failed: " << result.out << result.err;
    };
    for (const char* version : {"1", "2"})
      publish({"sample", U8String(root / (std::string("c") + version)), version, "--files", "2000", "--size-mb", "24"});
    publish({"release", U8String(root / "srv"), U8String(root / "c1" / "velkar"), "1"});
    publish({"release", U8String(root / "srv"), U8String(root / "c2" / "velkar"), "2", "--package-from", "1",
             "--package-url-base", "http://127.0.0.1/patches"});
  }
  static void TearDownTestSuite() {
    delete releases_;
    releases_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(folder_.made()) << "no temporary folder"; }

  static fs::path PathOf(const std::string& relative) { return releases_->path() / testsupport::U8Path(relative); }
  fs::path Package() const { return PathOf("srv/patches/1-2.cup"); }
  // A fresh copy of release 1's client root.
  fs::path FreshClient(const std::string& name) const {
    const fs::path root = folder_.path() / testsupport::U8Path(name);
    fs::copy(PathOf("c1"), root, fs::copy_options::recursive);
    return root;
  }
  // The package applied to the client root as the updater applies it, and the archives saved.
  ApplyResult Apply(const fs::path& root, const PassSettings& settings) const {
    const ClientLayout layout = ClientLayout::OfRoot(root.u16string());
    ClientArchives archives(layout);
    EXPECT_TRUE(archives.Open({}).allOpen());
    BusyFlag busy;
    const ApplyResult result = ApplyPackage(archives, layout, busy, settings, {}, Package().u16string());
    EXPECT_TRUE(archives.Save({}).written());
    return result;
  }
  static int32_t LocalVersion(const fs::path& root) {
    ClientArchiveSet set(ClientLayout::OfRoot(root.u16string()), UpdateServerAddress{u"127.0.0.1", 9});
    EXPECT_TRUE(set.OpenArchives({}).allOpen());
    return set.ReadLocalVersion();
  }
  static void ExpectSameClient(const ClientImage& actual, const ClientImage& expected) {
    ASSERT_EQ(actual.files.size(), expected.files.size());
    for (const auto& [identity, file] : expected.files) {
      const auto found = actual.files.find(identity);
      ASSERT_NE(found, actual.files.end()) << platform::Utf8FromUtf16(file.first);
      EXPECT_TRUE(found->second.second == file.second) << platform::Utf8FromUtf16(file.first);
    }
  }
  // Every file and folder of both roots with the same bytes; names the first that differs.
  static void ExpectSameBytes(const fs::path& actual, const std::map<std::string, std::string>& expected) {
    const std::map<std::string, std::string> files = Snapshot(actual);
    for (const auto& [name, bytes] : expected) {
      const auto found = files.find(name);
      ASSERT_NE(found, files.end()) << name << " is missing";
      ASSERT_TRUE(found->second == bytes) << name << " differs";
    }
    EXPECT_EQ(files.size(), expected.size()) << "files that one thread does not leave";
  }

  static testsupport::TempFolder* releases_;
  testsupport::TempFolder folder_;
};

testsupport::TempFolder* PackageApplyTest::releases_ = nullptr;

TEST_F(PackageApplyTest, EveryNumberOfThreadsLeavesTheSameBytes) {
  // The package holds what the cases need: archive entries, plain files larger than the
  // smallest limit below, and deletions.
  int archived = 0, largePlain = 0, deleted = 0;
  for (const publish_test::Listed& record : ParsePackage(testsupport::ReadFileText(Package())).records) {
    if (record.size == kDeleteSize) {
      ++deleted;
    } else if (ArchiveOfPath(record.name)) {
      ++archived;
    } else if (record.size > (8u << 10)) {
      ++largePlain;
    }
  }
  ASSERT_GT(archived, 0);
  ASSERT_GT(largePlain, 0);
  ASSERT_GT(deleted, 0);

  PassSettings one;
  one.threads = 1;
  const fs::path reference = FreshClient("one thread");
  const ApplyResult applied = Apply(reference, one);
  ASSERT_EQ(applied.outcome, ApplyResult::Outcome::kApplied);
  ASSERT_GT(applied.filesStored, 0);
  ExpectSameClient(ReadClient(reference / "velkar"), ReadClient(PathOf("c2/velkar")));
  EXPECT_EQ(LocalVersion(reference), 2);
  const std::map<std::string, std::string> expected = Snapshot(reference);

  const struct {
    const char* what;
    int threads;
    uint32_t readyContentLimit;
  } cases[] = {
      {"two threads", 2, PassSettings().readyContentLimit},
      {"four threads", 4, PassSettings().readyContentLimit},
      {"two threads, no content made ready ahead", 2, 0},
      {"three threads, only small contents made ready ahead", 3, 8u << 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PassSettings settings;
    settings.threads = c.threads;
    settings.readyContentLimit = c.readyContentLimit;
    const fs::path root = FreshClient(c.what);
    const ApplyResult result = Apply(root, settings);
    EXPECT_EQ(result.outcome, ApplyResult::Outcome::kApplied);
    EXPECT_EQ(result.filesStored, applied.filesStored);
    ExpectSameBytes(root, expected);
  }
}

#ifndef _WIN32
// Killed after it told each of a row of steps (while it checks the records, after the first
// record, at a quarter, half and three quarters of them, before the last, while it saves):
// the kill lands wherever the child has got to by then.
TEST_F(PackageApplyTest, AnApplicationKilledAnywhereRecordsNoVersionAndTheNextOneFinishes) {
  const std::size_t records = ParsePackage(testsupport::ReadFileText(Package())).records.size();
  ASSERT_GT(records, 8u);
  const ClientImage release2 = ReadClient(PathOf("c2/velkar"));
  // Lines the child writes: "open", one "done" per record, "saving", "saved".
  const std::size_t killAfter[] = {1, 2, 1 + records / 4, 1 + records / 2, 1 + 3 * records / 4, records, records + 2};
  for (const std::size_t lines : killAfter) {
    SCOPED_TRACE("killed after " + std::to_string(lines) + " lines of " + std::to_string(records + 3));
    const fs::path root = FreshClient("killed after " + std::to_string(lines));
    {
      testsupport::ChildProcess child;
      testsupport::ChildStreams streams;
      streams.outputToPipe = true;
      ASSERT_TRUE(child.Start(PACKAGE_APPLY_CHILD_PATH, {U8String(root), U8String(Package()), "2"}, streams));
      for (std::size_t line = 0; line < lines; ++line)
        ASSERT_TRUE(child.ReadLine(std::chrono::seconds(60))) << "the child told nothing more after line " << line;
      child.Kill();
    }
    for (std::u16string_view name : kArchiveNames) {
      TavrinFilePackage archive;
      EXPECT_EQ(archive.Open(ClientLayout::OfRoot(root.u16string()).ArchiveBasePath(name), std::u16string(name)),
                PackageResult::kOk)
          << platform::Utf8FromUtf16(std::u16string(name));
    }
    // Killed in the middle of the save, the version is recorded only once every archive is saved.
    const int32_t version = LocalVersion(root);
    if (lines <= records + 1 || version != 2) {
      EXPECT_EQ(version, 1);
      PassSettings settings;
      settings.threads = 2;
      EXPECT_EQ(Apply(root, settings).outcome, ApplyResult::Outcome::kApplied);
    }
    ExpectSameClient(ReadClient(root / "velkar"), release2);
    EXPECT_EQ(LocalVersion(root), 2);
  }
}
#endif

}  // namespace
