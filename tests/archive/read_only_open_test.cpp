// Opening an archive for inspection: everything reads as after the last commit, and not
// one byte of the files changes, not even the tail an interrupted write left.

#include <gtest/gtest.h>

#include <filesystem>

#include "archive/dual_files_stream.h"
#include "archive/tavrin_file_package.h"
#include "archive_fixture.h"
#include "support/file_bytes.h"

using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

namespace {

using archive_image::Bytes;
using archive_image::ToBytes;

class ReadOnlyOpenTest : public ArchiveTest {
 protected:
  // A committed archive with one entry, then a second entry stored but never committed.
  void WriteInterruptedArchive() {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"a.txt", "committed", 9), PackageResult::kOk);
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
    committedSize_ = std::filesystem::file_size(Pck());
    ASSERT_EQ(archive.SetFileData(u"b.txt", "never committed", 15), PackageResult::kOk);
    // Dropped without a commit, as a killed writer leaves it: the data is on disk, the index is not.
    archive.clearIndexChanged();
    ASSERT_EQ(archive.Close(), PackageResult::kOk);
    ASSERT_GT(std::filesystem::file_size(Pck()), committedSize_);
  }

  uint64_t committedSize_ = 0;
};

TEST_F(ReadOnlyOpenTest, ReadsTheLastCommitAndLeavesTheTailInPlace) {
  WriteInterruptedArchive();
  const Bytes before = ReadWholeFile(Pck());
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.OpenReadOnly(Base(), u"configs"), PackageResult::kOk);
    EXPECT_EQ(archive.uncommittedBytes(), before.size() - committedSize_);
    EXPECT_EQ(Contents(archive, u"configs\\a.txt"), ToBytes("committed"));
    EXPECT_EQ(archive.FindEntry(u"configs\\b.txt", false), nullptr);
    // Nothing can be written through it.
    EXPECT_NE(archive.SetFileData(u"c.txt", "refused", 7), PackageResult::kOk);
    EXPECT_NE(archive.Save(), PackageResult::kOk);
    archive.clearIndexChanged();
  }
  EXPECT_EQ(ReadWholeFile(Pck()), before);
  EXPECT_FALSE(std::filesystem::exists(Pkx()));

  // The ordinary open cuts the tail, as the updater's does.
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  EXPECT_EQ(archive.uncommittedBytes(), 0u);
  EXPECT_EQ(std::filesystem::file_size(Pck()), committedSize_);
}

TEST_F(ReadOnlyOpenTest, CommittedArchiveHasNoUncommittedBytes) {
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
  ASSERT_EQ(archive.SetFileData(u"a.txt", "x", 1), PackageResult::kOk);
  ASSERT_EQ(archive.Save(), PackageResult::kOk);
  EXPECT_EQ(archive.uncommittedBytes(), 0u);
  archive.clearIndexChanged();
  ASSERT_EQ(archive.Close(), PackageResult::kOk);
  ASSERT_EQ(archive.OpenReadOnly(Base(), u"configs"), PackageResult::kOk);
  EXPECT_EQ(archive.uncommittedBytes(), 0u);
}

// A read past the split point of a stream opened read-only must not create the continuation.
TEST_F(ReadOnlyOpenTest, StreamOpenedReadOnlyNeverCreatesItsContinuation) {
  WriteWholeFile(Pck(), ToBytes("0123456789"));
  DualFilesStream stream;
  stream.splitSize = 4;
  ASSERT_EQ(stream.OpenFiles(Base(), platform::FileMode::kRead), 0);
  char bytes[4];
  EXPECT_TRUE(stream.Seek(0) && stream.Read(bytes, 4));
  stream.Seek(6);
  EXPECT_FALSE(stream.Read(bytes, 2));
  EXPECT_FALSE(stream.Write("xy", 2));
  stream.CloseFiles();
  EXPECT_FALSE(std::filesystem::exists(Pkx()));
  EXPECT_EQ(ReadWholeFile(Pck()), ToBytes("0123456789"));
}

}  // namespace
