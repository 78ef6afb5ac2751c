#include "archive/dual_files_stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "archive/archive_format.h"
#include "archive/file_stream.h"
#include "platform/file.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::TempFolder;
using testsupport::WriteWholeFile;

namespace {

using platform::FileMode;
using platform::SeekOrigin;

constexpr uint64_t kSmallSplit = 16;

class DualFilesStreamTest : public ::testing::Test {
 protected:
  std::u16string Base() const { return folder_.U16("s"); }
  std::filesystem::path Pck() const { return folder_ / "s.pck"; }
  std::filesystem::path Pkx() const { return folder_ / "s.pkx"; }

  // A new pair with the small split.
  void CreateStream(DualFilesStream* stream) const {
    stream->splitSize = kSmallSplit;
    ASSERT_EQ(stream->OpenFiles(Base(), FileMode::kCreate), 0);
  }

  std::string ReadLogical(DualFilesStream& stream, uint64_t at, uint32_t count) {
    std::string out(count, '\0');
    EXPECT_TRUE(stream.Seek(at));
    EXPECT_TRUE(stream.Read(out.data(), count));
    return out;
  }

  TempFolder folder_;
};

TEST(FileStreamTest, KeepsLengthAndPositionBookkeeping) {
  TempFolder folder;
  WriteWholeFile(folder / "f.bin", std::string("0123456789"));
  FileStream file;
  EXPECT_EQ(file.Open(folder.U16("missing.bin"), FileMode::kReadWrite), ENOENT);
  EXPECT_FALSE(file.isOpen());

  ASSERT_EQ(file.Open(folder.U16("f.bin"), FileMode::kReadWrite), 0);
  EXPECT_EQ(file.length, 10u);
  EXPECT_EQ(file.position, 0u);
  char buffer[4];
  ASSERT_TRUE(file.Read(buffer, 4));
  EXPECT_EQ(file.position, 4u);
  // A write inside the file does not change its length; one past the end raises it.
  ASSERT_TRUE(file.Write("ab", 2));
  EXPECT_EQ(file.position, 6u);
  EXPECT_EQ(file.length, 10u);
  ASSERT_TRUE(file.Seek(9, SeekOrigin::kStart));
  EXPECT_EQ(file.position, 9u);
  ASSERT_TRUE(file.Write("XYZ", 3));
  EXPECT_EQ(file.length, 12u);
  // A size change through the object does not lower its recorded length.
  ASSERT_TRUE(file.SetSize(3));
  EXPECT_EQ(file.length, 12u);
  EXPECT_FALSE(file.Read(buffer, 0));
  file.Close();
  EXPECT_TRUE(file.path.empty());
  EXPECT_EQ(file.length, 0u);
  EXPECT_EQ(file.position, 0u);
  EXPECT_EQ(AsText(ReadWholeFile(folder / "f.bin")), "012");
}

// A write of n bytes that starts k bytes before the split: min(k, n) bytes end the
// first file, the rest begin the continuation, which exists only if some byte needed it.
TEST_F(DualFilesStreamTest, WriteAcrossTheSplitPlacesEachByteInItsFile) {
  struct Case {
    uint64_t before;  // k
    uint32_t count;   // n
  };
  const Case cases[] = {{6, 12}, {1, 2}, {5, 5}, {16, 16}, {16, 17}, {0, 3}};
  const std::string pattern = "abcdefghijklmnopqrstuvwxyz";
  for (const Case& c : cases) {
    SCOPED_TRACE("k=" + std::to_string(c.before) + " n=" + std::to_string(c.count));
    const std::string prefix(kSmallSplit - c.before, '.');
    const std::string data = pattern.substr(0, c.count);
    {
      DualFilesStream stream;
      CreateStream(&stream);
      if (!prefix.empty()) {
        ASSERT_TRUE(stream.Write(prefix.data(), static_cast<uint32_t>(prefix.size())));
      }
      ASSERT_TRUE(stream.Write(data.data(), c.count));
      EXPECT_EQ(stream.position, kSmallSplit - c.before + c.count);
      EXPECT_EQ(stream.length, stream.position);
      EXPECT_EQ(ReadLogical(stream, 0, static_cast<uint32_t>(stream.length)), prefix + data);
    }
    const std::size_t inFirst = std::min<std::size_t>(c.before, c.count);
    EXPECT_EQ(AsText(ReadWholeFile(Pck())), prefix + data.substr(0, inFirst));
    EXPECT_EQ(std::filesystem::exists(Pkx()), c.count > c.before);
    if (c.count > c.before) {
      EXPECT_EQ(AsText(ReadWholeFile(Pkx())), data.substr(inFirst));
    }
    std::filesystem::remove(Pkx());
  }
}

TEST_F(DualFilesStreamTest, ReopeningCountsTheContinuationAndReadsAcrossTheSplit) {
  {
    DualFilesStream stream;
    CreateStream(&stream);
    ASSERT_TRUE(stream.Write("0123456789abcdefGHIJK", 21));
  }
  DualFilesStream stream;
  stream.splitSize = kSmallSplit;
  ASSERT_EQ(stream.OpenFiles(Base(), FileMode::kReadWrite), 0);
  EXPECT_TRUE(stream.continuationOpen);
  EXPECT_TRUE(stream.pendingContinuationPath.empty());
  EXPECT_EQ(stream.length, 21u);
  EXPECT_EQ(stream.position, 0u);
  EXPECT_EQ(ReadLogical(stream, 0, 21), "0123456789abcdefGHIJK");
  EXPECT_EQ(ReadLogical(stream, 14, 4), "efGH");
  EXPECT_EQ(ReadLogical(stream, 18, 3), "IJK");

  // Reads that run past the end of the file holding the bytes fail.
  char buffer[8];
  ASSERT_TRUE(stream.Seek(19));
  EXPECT_FALSE(stream.Read(buffer, 3));
  ASSERT_TRUE(stream.Seek(12));
  EXPECT_FALSE(stream.Read(buffer, 10)) << "the continuation holds only 5 bytes";
  WriteWholeFile(folder_ / "t.pck", std::string("0123456789"));
  DualFilesStream shortFirst;
  shortFirst.splitSize = kSmallSplit;
  ASSERT_EQ(shortFirst.OpenFiles(folder_.U16("t"), FileMode::kReadWrite), 0);
  ASSERT_TRUE(shortFirst.Seek(8));
  EXPECT_FALSE(shortFirst.Read(buffer, 4));
}

TEST_F(DualFilesStreamTest, NoContinuationFileWithoutNeed) {
  {
    DualFilesStream stream;
    CreateStream(&stream);
    EXPECT_FALSE(stream.continuationOpen);
    EXPECT_EQ(stream.pendingContinuationPath, Base() + u".pkx");
    // Filling the first file exactly up to the split needs no continuation.
    ASSERT_TRUE(stream.Write("0123456789abcdef", 16));
    ASSERT_TRUE(stream.Seek(15));
    char c = 0;
    ASSERT_TRUE(stream.Read(&c, 1));
    EXPECT_EQ(c, 'f');
  }
  EXPECT_FALSE(std::filesystem::exists(Pkx()));

  // The default split is never reached, even far past the archive split.
  {
    DualFilesStream stream;
    ASSERT_EQ(stream.splitSize, kNoSplit);
    ASSERT_EQ(stream.OpenFiles(Base(), FileMode::kCreate), 0);
    const uint64_t far = archive_format::kSplitSize + 16;
    ASSERT_TRUE(stream.Seek(far));
    ASSERT_TRUE(stream.Write("end", 3));
    EXPECT_EQ(stream.length, far + 3);
    EXPECT_FALSE(stream.continuationOpen);
    EXPECT_EQ(ReadLogical(stream, far, 3), "end");
  }
  EXPECT_FALSE(std::filesystem::exists(Pkx()));
  EXPECT_EQ(std::filesystem::file_size(Pck()), archive_format::kSplitSize + 19);
}

TEST_F(DualFilesStreamTest, SeekToTheSplitCreatesTheContinuationAtSplitMinusFirstLength) {
  // Well formed: the first file is full, so the continuation offset is 0.
  {
    DualFilesStream stream;
    CreateStream(&stream);
    ASSERT_TRUE(stream.Write("0123456789abcdef", 16));
    ASSERT_TRUE(stream.Seek(kSmallSplit));
    EXPECT_TRUE(stream.continuationOpen);
    EXPECT_TRUE(stream.pendingContinuationPath.empty());
    EXPECT_EQ(stream.continuation.position, 0u);
    EXPECT_EQ(stream.position, kSmallSplit);
    ASSERT_TRUE(stream.Write("XY", 2));
  }
  EXPECT_EQ(AsText(ReadWholeFile(Pkx())), "XY");
  std::filesystem::remove(Pkx());

  // A seek meant only for reading also creates the (empty) continuation; the read fails.
  {
    DualFilesStream stream;
    CreateStream(&stream);
    ASSERT_TRUE(stream.Write("0123456789", 10));
    ASSERT_TRUE(stream.Seek(kSmallSplit));
    EXPECT_EQ(stream.continuation.position, kSmallSplit - 10);
    char c = 0;
    EXPECT_FALSE(stream.Read(&c, 1));
  }
  ASSERT_TRUE(std::filesystem::exists(Pkx()));
  EXPECT_EQ(std::filesystem::file_size(Pkx()), 0u);
}

TEST_F(DualFilesStreamTest, ZeroByteTransfersFail) {
  DualFilesStream stream;
  CreateStream(&stream);
  ASSERT_TRUE(stream.Write("0123456789abcdefXYZ", 19));
  char buffer[4] = {};
  for (uint64_t at : {uint64_t{0}, uint64_t{5}, kSmallSplit, uint64_t{18}}) {
    SCOPED_TRACE(at);
    ASSERT_TRUE(stream.Seek(at));
    EXPECT_FALSE(stream.Read(buffer, 0));
    EXPECT_FALSE(stream.Write(buffer, 0));
    EXPECT_EQ(stream.position, at);
  }
  EXPECT_EQ(stream.length, 19u);
}

TEST_F(DualFilesStreamTest, WithoutAContinuationOnlyTheFirstFileWorks) {
  // A folder in the way: the continuation cannot be created.
  std::filesystem::create_directory(Pkx());
  DualFilesStream stream;
  CreateStream(&stream);
  ASSERT_TRUE(stream.Write("0123456789abcdef", 16));
  // The seek itself succeeds on the first file's part; reads and writes beyond the split fail.
  EXPECT_TRUE(stream.Seek(kSmallSplit + 2));
  EXPECT_EQ(stream.position, kSmallSplit + 2);
  EXPECT_FALSE(stream.continuationOpen);
  EXPECT_EQ(stream.pendingContinuationPath, Base() + u".pkx");
  char buffer[4] = {};
  EXPECT_FALSE(stream.Read(buffer, 1));
  EXPECT_FALSE(stream.Write("Z", 1));
  ASSERT_TRUE(stream.Seek(14));
  EXPECT_FALSE(stream.Write("WXYZ", 4)) << "a write crossing the split needs the continuation";
  ASSERT_TRUE(stream.Seek(2));
  ASSERT_TRUE(stream.Write("ab", 2));
  EXPECT_EQ(ReadLogical(stream, 0, 16), "01ab456789abcdWX");
  EXPECT_EQ(stream.length, 16u);
}

TEST_F(DualFilesStreamTest, Truncate) {
  const std::string content = "0123456789abcdefGHIJKL";  // 16 in the first file, 6 in the continuation
  struct Case {
    uint64_t newLength;
    uint64_t length;  // afterwards
    std::string first;
    std::string continuation;
  };
  const Case cases[] = {
      {22, 22, "0123456789abcdef", "GHIJKL"},  // not below the length: nothing changes
      {40, 22, "0123456789abcdef", "GHIJKL"},
      {19, 19, "0123456789abcdef", "GHI"},
      {16, 16, "0123456789abcdef", ""},
      {10, 10, "0123456789", ""},  // inside the first file: the continuation is emptied
      {0, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.newLength);
    std::filesystem::remove(Pkx());
    {
      DualFilesStream stream;
      CreateStream(&stream);
      ASSERT_TRUE(stream.Write(content.data(), static_cast<uint32_t>(content.size())));
      ASSERT_TRUE(stream.Truncate(c.newLength));
      EXPECT_EQ(stream.length, c.length);
      // The first file's recorded length stays, so positions past the split keep their place.
      EXPECT_EQ(stream.first.length, kSmallSplit);
      if (c.length > kSmallSplit) {
        EXPECT_EQ(ReadLogical(stream, 16, 2), "GH");
      }
    }
    EXPECT_EQ(AsText(ReadWholeFile(Pck())), c.first);
    ASSERT_TRUE(std::filesystem::exists(Pkx()));
    EXPECT_EQ(AsText(ReadWholeFile(Pkx())), c.continuation);
  }
}

TEST_F(DualFilesStreamTest, CloseFilesReleasesBothFiles) {
  DualFilesStream stream;
  CreateStream(&stream);
  ASSERT_TRUE(stream.Write("0123456789abcdefXY", 18));
  stream.CloseFiles();
  EXPECT_FALSE(stream.firstOpen);
  EXPECT_FALSE(stream.continuationOpen);
  EXPECT_EQ(stream.length, 18u);
  platform::File other;
  EXPECT_EQ(other.Open(Pck().u16string(), FileMode::kReadWrite), 0);
  EXPECT_EQ(other.Open(Pkx().u16string(), FileMode::kReadWrite), 0);
  char c = 0;
  EXPECT_FALSE(stream.Read(&c, 1));
  EXPECT_NE(stream.OpenFiles(folder_.U16("missing"), FileMode::kReadWrite), 0);
  EXPECT_FALSE(stream.firstOpen);
}

// The archive split for real: sparse files keep this cheap.
TEST_F(DualFilesStreamTest, ArchiveSplitSendsHighPositionsToTheContinuation) {
  constexpr uint64_t kSplit = archive_format::kSplitSize;
  {
    platform::File pck;
    ASSERT_EQ(pck.Open(Pck().u16string(), FileMode::kCreate), 0);
    ASSERT_TRUE(pck.SetSize(kSplit - 4));
  }
  const uint64_t beyondFourGiB = (uint64_t{1} << 32) + 10;
  {
    DualFilesStream stream;
    stream.splitSize = kSplit;
    ASSERT_EQ(stream.OpenFiles(Base(), FileMode::kReadWrite), 0);
    EXPECT_EQ(stream.length, kSplit - 4);
    ASSERT_TRUE(stream.Seek(kSplit - 4));
    ASSERT_TRUE(stream.Write("abcdefgh", 8));
    EXPECT_EQ(stream.first.length, kSplit);
    ASSERT_TRUE(stream.Seek(kSplit + 100));
    ASSERT_TRUE(stream.Write("WXYZ", 4));
    ASSERT_TRUE(stream.Seek(beyondFourGiB));
    ASSERT_TRUE(stream.Write("far", 3));
    EXPECT_EQ(stream.length, beyondFourGiB + 3);
    EXPECT_EQ(ReadLogical(stream, kSplit - 2, 4), "cdef");
    EXPECT_EQ(ReadLogical(stream, kSplit + 100, 4), "WXYZ");
    EXPECT_EQ(ReadLogical(stream, beyondFourGiB, 3), "far");
  }
  EXPECT_EQ(std::filesystem::file_size(Pck()), kSplit);
  EXPECT_EQ(std::filesystem::file_size(Pkx()), beyondFourGiB + 3 - kSplit);

  // Reopened, the pair maps the same way.
  DualFilesStream stream;
  stream.splitSize = kSplit;
  ASSERT_EQ(stream.OpenFiles(Base(), FileMode::kReadWrite), 0);
  EXPECT_EQ(stream.length, beyondFourGiB + 3);
  EXPECT_EQ(ReadLogical(stream, kSplit + 2, 2), "gh");
  EXPECT_EQ(ReadLogical(stream, beyondFourGiB, 3), "far");
  stream.CloseFiles();
  platform::File pkx;
  ASSERT_EQ(pkx.Open(Pkx().u16string(), FileMode::kRead), 0);
  char bytes[4];
  ASSERT_TRUE(pkx.Seek(100, SeekOrigin::kStart));
  ASSERT_TRUE(pkx.Read(bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "WXYZ");
}

}  // namespace
