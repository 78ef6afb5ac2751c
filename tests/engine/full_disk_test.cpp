// Saving a client on a disk that has filled up: a small tmpfs that with_small_disk.sh
// mounts around this program, the client on it and the log elsewhere. A save that cannot
// be written fails, names what failed, and records no version.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/engine_fixture.h"
#include "engine/server_tree.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/local_path.h"
#include "support/temp_folder.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::TempFolder;

namespace {

namespace fs = std::filesystem;

// Nothing listens there; these tests make no request.
constexpr char16_t kNoServer[] = u"127.0.0.1";
constexpr uint16_t kNoPort = 9;
// tmpfs hands out space in pages of this size.
constexpr uint64_t kPage = 4096;

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* disk = std::getenv("SOLMERE_SMALL_DISK");
    ASSERT_NE(disk, nullptr) << "no small disk: run this program through tests/support/with_small_disk.sh";
    root_ = fs::path(testsupport::LocalPath(disk)) / "client";
    fs::remove_all(root_);
    fs::create_directories(root_ / "patcher");
    fs::create_directories(root_ / "config" / "patcher");
    log_.Open(logFolder_ / "log.txt");
  }
  void TearDown() override {
    set_.reset();
    testsupport::ProcessLog::Close();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void MakeSet() {
    set_.reset();
    set_ = std::make_unique<ClientArchiveSet>(ClientLayout((root_ / "patcher").u16string()),
                                              UpdateServerAddress{kNoServer, kNoPort});
  }
  std::string LogText() { return log_.Text(); }
  std::string VersionFile() const { return AsText(ReadWholeFile(root_ / "config" / "velkar" / "version.sw")); }
  std::string BasePath(const char* archive) const {
    return (fs::path(set_->layout().clientFolder()) / archive).string();
  }
  // Writes whole pages into a file of its own until the disk takes no more.
  void FillDisk() {
    platform::File filler;
    ASSERT_EQ(filler.Open((root_ / "filler").u16string(), platform::FileMode::kCreate), 0);
    const std::vector<uint8_t> page(kPage, 0x5A);
    uint64_t written = 0;
    while (filler.Write(page.data(), page.size()) && filler.Flush()) written += kPage;
    ASSERT_GT(written, 0u) << "the disk was full before the test filled it";
  }
  void FreeDisk() { fs::remove(root_ / "filler"); }
  // Pads trees to end on a page boundary, so that one more byte in it needs a page.
  void PadTrees() {
    TavrinFilePackage* trees = set_->archives().Find(u"trees");
    const std::string padding(static_cast<std::size_t>(kPage - trees->streamLength() % kPage), 't');
    ASSERT_EQ(trees->SetFileCompressedData(u"trees\\padding.spt", padding.data(), static_cast<uint32_t>(padding.size()),
                                           static_cast<uint32_t>(padding.size())),
              PackageResult::kOk);
    ASSERT_EQ(trees->streamLength() % kPage, 0u);
  }
  // A package off the small disk.
  std::u16string PutPackage(int32_t from, int32_t to, const std::vector<testsupport::ListedFile>& files) {
    const fs::path path = logFolder_.path() / "update.cup";
    testsupport::WriteWholeFile(path, testsupport::PackageBytes(from, to, files));
    return path.u16string();
  }
  // The disk had room for less than a page, and the write named its bytes.
  static void ExpectShortage(const std::optional<DiskShortage>& shortage, uint64_t needed, const std::string& what) {
    ASSERT_TRUE(shortage.has_value()) << what << ": no full disk reported";
    EXPECT_EQ(shortage->neededBytes, needed) << what;
    ASSERT_TRUE(shortage->freeBytes.has_value()) << what;
    EXPECT_LT(*shortage->freeBytes, kPage) << what;
  }

  TempFolder logFolder_;
  testsupport::ProcessLog log_;
  fs::path root_;
  std::unique_ptr<ClientArchiveSet> set_;
};

TEST_F(FullDiskTest, SaveThatCannotBeWrittenRecordsNoVersionAndNamesTheArchive) {
  MakeSet();
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->WriteLocalVersion(3).written());
  ASSERT_TRUE(set_->SaveArchives({}).written()) << LogText();
  ASSERT_EQ(VersionFile(), "3");

  // models gets many new entries, so that its next index needs pages of its own; trees
  // is made to end on a page boundary, so that even one more byte needs a page.
  TavrinFilePackage* models = set_->archives().Find(u"models");
  for (int i = 0; i < 200; ++i) {
    const std::string content = Numbered("model ", i);
    ASSERT_EQ(
        models->SetFileCompressedData(Wide(Numbered("models\\m", i, ".ski")), content.data(),
                                      static_cast<uint32_t>(content.size()), static_cast<uint32_t>(content.size())),
        PackageResult::kOk);
  }
  PadTrees();
  FillDisk();

  // The version entry does not fit into trees: the version is not stored.
  EXPECT_FALSE(set_->WriteLocalVersion(9).written());
  EXPECT_NE(LogText().find("ERROR: Can't store the version in package: " + BasePath("trees")), std::string::npos)
      << LogText();
  EXPECT_EQ(set_->ReadLocalVersion(), 3);

  // The index of models does not fit: the save fails and says which archive.
  const WriteResult saved = set_->SaveArchives({});
  EXPECT_EQ(saved.outcome, WriteResult::Outcome::kArchiveFailed);
  EXPECT_EQ(platform::Utf8FromUtf16(saved.path), BasePath("models"));
  EXPECT_NE(LogText().find("ERROR: Can't save package: " + BasePath("models")), std::string::npos) << LogText();
  EXPECT_TRUE(models->indexChanged()) << "kept for the next save";
  EXPECT_EQ(set_->ReadLocalVersion(), 3);
  EXPECT_EQ(VersionFile(), "3");

  // The version stored while there was room, the disk full at save time: the save fails,
  // and the version file keeps the old version.
  FreeDisk();
  ASSERT_TRUE(set_->WriteLocalVersion(9).written()) << LogText();
  EXPECT_EQ(set_->ReadLocalVersion(), 9);
  FillDisk();
  EXPECT_FALSE(set_->SaveArchives({}).written());
  EXPECT_EQ(set_->ReadLocalVersion(), 3);
  EXPECT_EQ(VersionFile(), "3");

  // As the next start sees it.
  MakeSet();
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  EXPECT_EQ(set_->ReadLocalVersion(), 3);
}

TEST_F(FullDiskTest, SaveSucceedsOnceThereIsRoomAgain) {
  MakeSet();
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->WriteLocalVersion(3).written());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  TavrinFilePackage* models = set_->archives().Find(u"models");
  for (int i = 0; i < 200; ++i) {
    const std::string content = Numbered("model ", i);
    ASSERT_EQ(
        models->SetFileCompressedData(Wide(Numbered("models\\m", i, ".ski")), content.data(),
                                      static_cast<uint32_t>(content.size()), static_cast<uint32_t>(content.size())),
        PackageResult::kOk);
  }
  FillDisk();
  EXPECT_FALSE(set_->SaveArchives({}).written());

  FreeDisk();
  ASSERT_TRUE(set_->WriteLocalVersion(9).written()) << LogText();
  ASSERT_TRUE(set_->SaveArchives({}).written()) << LogText();
  EXPECT_EQ(VersionFile(), "9");
  MakeSet();
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  EXPECT_EQ(set_->ReadLocalVersion(), 9);
  EXPECT_EQ(set_->archives().Find(u"models")->index().size(), 201u) << "200 files and the version";
}

// A write refused for want of space says so, with the bytes it needed and those free, in
// its result and in its log line; one that fails for another cause does not.
TEST_F(FullDiskTest, RefusedWritesTellTheBytesNeededAndFree) {
  MakeSet();
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->WriteLocalVersion(3).written());
  ASSERT_TRUE(set_->SaveArchives({}).written()) << LogText();
  PadTrees();
  // Where a plain file is written before it takes its place, made while there is room.
  fs::create_directories(root_ / "config" / "patcher" / "staging");
  const std::string plain(64 * 1024, 'p');
  const std::string archived(48 * 1024, 'a');
  const std::u16string plainPackage =
      PutPackage(3, 9, {{.name = u"data\\big.bin", .content = plain, .compress = false}});
  FillDisk();

  const ApplyResult plainFailed = set_->ApplyPackage({}, plainPackage);
  EXPECT_EQ(plainFailed.outcome, ApplyResult::Outcome::kFileFailed);
  ExpectShortage(plainFailed.diskFull, plain.size(), "plain file");
  const std::string plainPath = (root_ / "velkar" / "data" / "big.bin").string();
  EXPECT_NE(LogText().find("ERROR: Can't create file " + plainPath + " (disk full: "), std::string::npos) << LogText();

  const std::u16string archivedPackage =
      PutPackage(3, 9, {{.name = u"models\\big.ski", .content = archived, .compress = false}});
  const ApplyResult archiveFailed = set_->ApplyPackage({}, archivedPackage);
  EXPECT_EQ(archiveFailed.outcome, ApplyResult::Outcome::kArchiveFailed);
  EXPECT_EQ(archiveFailed.archiveResult, PackageResult::kDiskFull);
  ExpectShortage(archiveFailed.diskFull, archived.size(), "archive entry");
  EXPECT_NE(LogText().find("ERROR: SetFileCompressedData error (disk full: "), std::string::npos) << LogText();

  // Every record fits, the version does not: that is what the result names, not the records.
  const ApplyResult versionFailed = set_->ApplyPackage({}, PutPackage(3, 9, {}));
  EXPECT_EQ(versionFailed.outcome, ApplyResult::Outcome::kVersionFailed);
  EXPECT_EQ(versionFailed.version.outcome, WriteResult::Outcome::kVersionEntryFailed);
  EXPECT_EQ(platform::Utf8FromUtf16(versionFailed.version.path), BasePath("trees"));
  ExpectShortage(versionFailed.shortage(), 1, "version entry");
  EXPECT_NE(LogText().find("ERROR: Can't store the version in package: " + BasePath("trees") + " (disk full: "),
            std::string::npos)
      << LogText();

  // A save: the index of models, with its 200 new entries, needs pages of its own (an archive
  // before it may be the first to find no room).
  FreeDisk();
  TavrinFilePackage* models = set_->archives().Find(u"models");
  for (int i = 0; i < 200; ++i) {
    const std::string content = Numbered("model ", i);
    ASSERT_EQ(
        models->SetFileCompressedData(Wide(Numbered("models\\m", i, ".ski")), content.data(),
                                      static_cast<uint32_t>(content.size()), static_cast<uint32_t>(content.size())),
        PackageResult::kOk);
  }
  FillDisk();
  const WriteResult saved = set_->SaveArchives({});
  EXPECT_EQ(saved.outcome, WriteResult::Outcome::kArchiveFailed);
  ASSERT_TRUE(saved.diskFull.has_value());
  EXPECT_GT(saved.diskFull->neededBytes, saved.diskFull->freeBytes.value_or(0)) << "more than there was room for";
  EXPECT_NE(LogText().find("ERROR: Can't save package: " + platform::Utf8FromUtf16(saved.path) + " (disk full: "),
            std::string::npos)
      << LogText();
}

}  // namespace
