#include "platform/file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/file_bytes.h"
#include "support/symbolic_link.h"
#include "support/temp_folder.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::TempFolder;
using testsupport::WriteWholeFile;

namespace {

using platform::File;
using platform::FileMode;
using platform::SeekOrigin;

constexpr uint64_t kGiB = uint64_t{1} << 30;

const char* ModeName(FileMode mode) {
  switch (mode) {
    case FileMode::kRead:
      return "rb";
    case FileMode::kReadWrite:
      return "rb+";
    case FileMode::kCreate:
      return "wb+";
  }
  return "?";
}

constexpr FileMode kAllModes[] = {FileMode::kRead, FileMode::kReadWrite, FileMode::kCreate};

uint64_t SizeThroughHandle(File& file) {
  uint64_t size = 0;
  EXPECT_TRUE(file.Seek(0, SeekOrigin::kEnd));
  EXPECT_TRUE(file.Tell(&size));
  return size;
}

std::string ReadAt(File& file, uint64_t at, std::size_t count) {
  std::string out(count, '\0');
  EXPECT_TRUE(file.Seek(static_cast<int64_t>(at), SeekOrigin::kStart));
  EXPECT_TRUE(file.Read(out.data(), count));
  return out;
}

TEST(FileTest, SecondOpenFailsWhileTheFirstIsHeldInEveryMode) {
  TempFolder folder;
  const auto path = folder / "held.bin";
  for (FileMode held : kAllModes) {
    for (FileMode second : kAllModes) {
      SCOPED_TRACE(std::string("held ") + ModeName(held) + ", second " + ModeName(second));
      WriteWholeFile(path, std::string("keep me"));
      {
        File first;
        ASSERT_EQ(first.Open(path.u16string(), held), 0);
        if (held == FileMode::kCreate) {
          ASSERT_TRUE(first.Write("keep me", 7));
        }
        File other;
        EXPECT_NE(other.Open(path.u16string(), second), 0);
        EXPECT_FALSE(other.isOpen());
        // A refused "wb+" must not have emptied the file on its way to failing.
        EXPECT_EQ(SizeThroughHandle(first), 7u);
      }
      EXPECT_EQ(AsText(ReadWholeFile(path)), "keep me");
      File after;
      EXPECT_EQ(after.Open(path.u16string(), second), 0) << "the file stays locked after its holder closed it";
    }
  }
}

TEST(FileTest, ModesCreateEmptyOrRefuseAsTheyShould) {
  TempFolder folder;
  const auto path = folder / "f.bin";
  File file;
  // Without the file, only "wb+" opens.
  EXPECT_NE(file.Open(path.u16string(), FileMode::kRead), 0);
  EXPECT_NE(file.Open(path.u16string(), FileMode::kReadWrite), 0);
  EXPECT_FALSE(file.isOpen());
  ASSERT_EQ(file.Open(path.u16string(), FileMode::kCreate), 0);
  ASSERT_TRUE(file.Write("hello", 5));
  file.Close();
  EXPECT_EQ(AsText(ReadWholeFile(path)), "hello");

  // "rb" reads but cannot write.
  ASSERT_EQ(file.Open(path.u16string(), FileMode::kRead), 0);
  EXPECT_FALSE(file.Write("X", 1));
  EXPECT_EQ(ReadAt(file, 0, 5), "hello");
  file.Close();
  EXPECT_EQ(AsText(ReadWholeFile(path)), "hello");

  // "wb+" empties an existing file.
  ASSERT_EQ(file.Open(path.u16string(), FileMode::kCreate), 0);
  EXPECT_EQ(SizeThroughHandle(file), 0u);
  file.Close();
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(FileTest, AFolderDoesNotOpenAsAFile) {
  TempFolder folder;
  std::filesystem::create_directory(folder / "sub");
  for (FileMode mode : kAllModes) {
    SCOPED_TRACE(ModeName(mode));
    File file;
    EXPECT_NE(file.Open(folder.U16("sub"), mode), 0);
    EXPECT_FALSE(file.isOpen());
  }
}

// What is written is never reached through a link; what is only read may be.
TEST(FileTest, LinksAreSeenAndNeverWrittenThrough) {
  TempFolder folder;
  std::filesystem::create_directories(folder / "elsewhere");
  WriteWholeFile(folder / "elsewhere" / "target.bin", std::string("outside"));
  testsupport::SymbolicLinks links;
  std::string why;
  ASSERT_TRUE(links.Make(folder / "elsewhere" / "target.bin", folder / "file-link", &why)) << why;
  ASSERT_TRUE(links.Make(folder / "elsewhere", folder / "folder-link", &why)) << why;

  for (FileMode mode : {FileMode::kReadWrite, FileMode::kCreate}) {
    SCOPED_TRACE(ModeName(mode));
    File file;
    EXPECT_NE(file.Open(folder.U16("file-link"), mode), 0);
    EXPECT_FALSE(file.isOpen());
  }
  EXPECT_EQ(AsText(ReadWholeFile(folder / "elsewhere" / "target.bin")), "outside") << "emptied through the link";
  File reader;
  ASSERT_EQ(reader.Open(folder.U16("file-link"), FileMode::kRead), 0) << "reading may follow a link";
  EXPECT_EQ(ReadAt(reader, 0, 7), "outside");
  reader.Close();

  WriteWholeFile(folder / "plain.bin", std::string("x"));
  const struct {
    const char* name;
    bool link;
  } cases[] = {{"folder-link", true}, {"plain.bin", false}, {"elsewhere", false}, {"missing", false}};
  for (const auto& c : cases) EXPECT_EQ(platform::IsLink(folder.U16(c.name)), c.link) << c.name;
  EXPECT_TRUE(platform::IsLink(folder.U16("file-link")));
}

TEST(FileTest, ReadsAndWritesMayFollowEachOtherWithoutASeek) {
  TempFolder folder;
  const auto path = folder / "mixed.bin";
  WriteWholeFile(path, std::string("0123456789"));
  File file;
  ASSERT_EQ(file.Open(path.u16string(), FileMode::kReadWrite), 0);
  char buffer[4] = {};
  ASSERT_TRUE(file.Read(buffer, 3));
  EXPECT_EQ(std::string(buffer, 3), "012");
  ASSERT_TRUE(file.Write("XY", 2));
  ASSERT_TRUE(file.Read(buffer, 2));
  EXPECT_EQ(std::string(buffer, 2), "56");
  ASSERT_TRUE(file.Write("Z", 1));
  uint64_t at = 0;
  ASSERT_TRUE(file.Tell(&at));
  EXPECT_EQ(at, 8u);
  file.Close();
  EXPECT_EQ(AsText(ReadWholeFile(path)), "012XY56Z89");
}

TEST(FileTest, ShortAndEmptyTransfersFail) {
  TempFolder folder;
  const auto path = folder / "short.bin";
  WriteWholeFile(path, std::string("abc"));
  File file;
  ASSERT_EQ(file.Open(path.u16string(), FileMode::kReadWrite), 0);
  char buffer[8] = {};
  EXPECT_FALSE(file.Read(buffer, 0));
  EXPECT_FALSE(file.Write(buffer, 0));
  ASSERT_TRUE(file.Seek(1, SeekOrigin::kStart));
  EXPECT_FALSE(file.Read(buffer, 3)) << "only two bytes are left";
  file.Close();
  EXPECT_FALSE(file.Read(buffer, 1));
  EXPECT_FALSE(file.Write(buffer, 1));
  EXPECT_FALSE(file.Seek(0, SeekOrigin::kStart));
  EXPECT_FALSE(file.SetSize(0));
  EXPECT_FALSE(file.Sync());
}

#ifndef _WIN32
// /dev/full refuses every write with ENOSPC; a write refused for another cause is no full disk.
// (A disk that fills up, on Windows too, is in the engine's full-disk tests.)
TEST(FileTest, WritesRefusedForWantOfSpaceSaySo) {
  File full;
  ASSERT_EQ(full.Open(u"/dev/full", FileMode::kReadWrite), 0);
  const std::string bytes(64 * 1024, 'x');
  EXPECT_FALSE(full.Write(bytes.data(), bytes.size()));
  EXPECT_TRUE(full.diskFull());
  EXPECT_TRUE(full.Write(bytes.data(), 1)) << "held in the buffer";
  EXPECT_FALSE(full.Flush());
  EXPECT_TRUE(full.diskFull());

  TempFolder folder;
  WriteWholeFile(folder / "read.bin", std::string("abc"));
  File readOnly;
  ASSERT_EQ(readOnly.Open((folder / "read.bin").u16string(), FileMode::kRead), 0);
  EXPECT_FALSE(readOnly.Write(bytes.data(), bytes.size()));
  EXPECT_FALSE(readOnly.diskFull());
}
#endif

TEST(FileTest, PositionsAndSizesBeyondFourGiB) {
  TempFolder folder;
  const auto path = folder / "sparse.bin";
  File file;
  ASSERT_EQ(file.Open(path.u16string(), FileMode::kCreate), 0);
  // Growing by size change leaves a sparse file: cheap however large.
  ASSERT_TRUE(file.SetSize(5 * kGiB));
  EXPECT_EQ(SizeThroughHandle(file), 5 * kGiB);

  const uint64_t at = 4 * kGiB + 7;
  ASSERT_TRUE(file.Seek(static_cast<int64_t>(at), SeekOrigin::kStart));
  ASSERT_TRUE(file.Write("abc", 3));
  uint64_t told = 0;
  ASSERT_TRUE(file.Tell(&told));
  EXPECT_EQ(told, at + 3);
  EXPECT_EQ(ReadAt(file, at - 1, 5), std::string("\0abc\0", 5));

  // A size change keeps the position where it was.
  ASSERT_TRUE(file.Seek(static_cast<int64_t>(at + 1), SeekOrigin::kStart));
  ASSERT_TRUE(file.SetSize(at + 2));
  ASSERT_TRUE(file.Tell(&told));
  EXPECT_EQ(told, at + 1);
  EXPECT_EQ(SizeThroughHandle(file), at + 2);
  EXPECT_EQ(ReadAt(file, at, 2), "ab");
  char beyond = 0;
  EXPECT_FALSE(file.Read(&beyond, 1));
  EXPECT_TRUE(file.Sync());
  file.Close();
  EXPECT_EQ(std::filesystem::file_size(path), at + 2);
}

TEST(FileTest, SetSizeGrowsWithZerosAndShrinks) {
  TempFolder folder;
  const auto path = folder / "size.bin";
  File file;
  ASSERT_EQ(file.Open(path.u16string(), FileMode::kCreate), 0);
  ASSERT_TRUE(file.Write("abc", 3));
  // Bytes still in the runtime's buffer count before the size change.
  ASSERT_TRUE(file.SetSize(6));
  EXPECT_EQ(ReadAt(file, 0, 6), std::string("abc\0\0\0", 6));
  ASSERT_TRUE(file.SetSize(2));
  EXPECT_EQ(SizeThroughHandle(file), 2u);
  file.Close();
  EXPECT_EQ(AsText(ReadWholeFile(path)), "ab");
}

TEST(FileTest, MovingAFileMovesItsHandle) {
  TempFolder folder;
  const auto path = folder / "moved.bin";
  File a;
  ASSERT_EQ(a.Open(path.u16string(), FileMode::kCreate), 0);
  File b(std::move(a));
  EXPECT_FALSE(a.isOpen());
  ASSERT_TRUE(b.isOpen());
  ASSERT_TRUE(b.Write("x", 1));
  File c;
  c = std::move(b);
  EXPECT_FALSE(b.isOpen());
  ASSERT_TRUE(c.Write("y", 1));
  c.Close();
  File reopened;
  EXPECT_EQ(reopened.Open(path.u16string(), FileMode::kReadWrite), 0) << "a moved handle was left open";
  reopened.Close();
  EXPECT_EQ(AsText(ReadWholeFile(path)), "xy");
}

TEST(FileTest, NonAsciiPaths) {
  TempFolder folder;
  for (const char16_t* name : {u"Архив.pck", u"模型.pck", u"naïve ü.pck"}) {
    const std::u16string path = folder.path().u16string() + u"/" + name;
    File file;
    ASSERT_EQ(file.Open(path, FileMode::kCreate), 0);
    ASSERT_TRUE(file.Write("1", 1));
    file.Close();
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(path)));
    EXPECT_TRUE(platform::FileExists(path));
    EXPECT_TRUE(platform::RemoveFile(path));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(path)));
  }
}

TEST(FileTest, MakeDirectoriesCreatesParents) {
  TempFolder folder;
  // Both separators are accepted: client paths use "\".
  const std::u16string slashes = folder.path().u16string() + u"/a/b/c";
  const std::u16string backslashes = folder.path().u16string() + u"\\x\\y\\Папка";
  for (const std::u16string& path : {slashes, backslashes}) {
    EXPECT_TRUE(platform::MakeDirectories(path));
    EXPECT_TRUE(platform::MakeDirectories(path)) << "an existing folder is success";
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder / "a" / "b" / "c"));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "x" / "y" / std::filesystem::path(u"Папка")));
  EXPECT_TRUE(platform::MakeDirectories(folder.path().u16string() + u"/trailing/"));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "trailing"));

  WriteWholeFile(folder / "plain", std::string("x"));
  EXPECT_FALSE(platform::MakeDirectories(folder.U16("plain")));
  EXPECT_FALSE(platform::MakeDirectories(folder.path().u16string() + u"/plain/under"));
}

TEST(FileTest, RemoveFileAndFileExists) {
  TempFolder folder;
  const auto path = folder / "gone.bin";
  WriteWholeFile(path, std::string("x"));
  std::filesystem::create_directory(folder / "sub");
  EXPECT_TRUE(platform::FileExists(path.u16string()));
  EXPECT_FALSE(platform::FileExists(folder.U16("sub"))) << "a folder is no file";
  EXPECT_FALSE(platform::RemoveFile(folder.U16("sub")));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "sub"));

  EXPECT_TRUE(platform::RemoveFile(path.u16string()));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(platform::FileExists(path.u16string()));
  EXPECT_FALSE(platform::RemoveFile(path.u16string())) << "nothing left to delete";
}

}  // namespace
