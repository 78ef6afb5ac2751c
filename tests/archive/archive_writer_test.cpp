#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/tavrin_file_package.h"
#include "archive_fixture.h"
#include "archive_image.h"
#include "platform/file.h"
#include "support/file_bytes.h"

using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

namespace {

using archive_image::Bytes;
using archive_image::Deflate;
using archive_image::GetU32;
using archive_image::Parse188;
using archive_image::SetU32;
using archive_image::ToBytes;

Bytes RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out(count);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

Bytes Compressible(std::size_t count) {
  Bytes out;
  while (out.size() < count) {
    const std::string line = "key" + std::to_string(out.size() % 97) + " = value\n";
    out.insert(out.end(), line.begin(), line.end());
  }
  out.resize(count);
  return out;
}

uint32_t Size(const Bytes& bytes) {
  return static_cast<uint32_t>(bytes.size());
}

TEST_F(ArchiveTest, NewArchiveIsThirtySixBytesAndOpensEmpty) {
  // A continuation left from an earlier archive of the same name goes away.
  WriteWholeFile(Pck(), RandomBytes(1000, 1));
  WriteWholeFile(Pkx(), RandomBytes(50, 2));
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
    EXPECT_TRUE(archive.isOpen());
    EXPECT_FALSE(archive.indexChanged());
    EXPECT_EQ(archive.streamLength(), 36u);
    EXPECT_EQ(archive.Close(), PackageResult::kOk);
  }
  EXPECT_FALSE(std::filesystem::exists(Pkx()));
  Bytes expected;
  for (uint32_t word : {0x4DCA23EFu, 36u, 0x56A089B7u, 0x56A2E3B1u, 188u, 12u ^ 0x58E3B20Du, 0x67AC431Fu, 0u, 188u})
    archive_image::PutU32(&expected, word);
  EXPECT_EQ(ReadWholeFile(Pck()), expected);

  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  EXPECT_TRUE(archive.index().empty());
  EXPECT_EQ(archive.format(), 188u);
  EXPECT_EQ(archive.streamLength(), 36u);
}

TEST_F(ArchiveTest, CreateAndStoresNeedTheirFiles) {
  TavrinFilePackage archive;
  const Bytes data = ToBytes("data");
  EXPECT_EQ(archive.Save(), PackageResult::kNotOpen);
  EXPECT_EQ(archive.SetFileData(u"a.txt", data.data(), Size(data)), PackageResult::kNotOpen);
  EXPECT_EQ(archive.SetFileCompressedData(u"configs\\a.txt", data.data(), Size(data), Size(data)),
            PackageResult::kNotOpen);
  EXPECT_TRUE(archive.index().empty());
  EXPECT_EQ(archive.Close(), PackageResult::kOk);

  // Another holder of the ".pck" keeps it from being created.
  platform::File holder;
  ASSERT_EQ(holder.Open(Pck().u16string(), platform::FileMode::kCreate), 0);
  EXPECT_EQ(archive.Create(Base(), u"configs"), PackageResult::kCannotCreate);
  EXPECT_FALSE(archive.isOpen());
  EXPECT_EQ(archive.Open(Base(), u"configs"), PackageResult::kCannotOpen);
}

TEST_F(ArchiveTest, StoredContentsReadBackBeforeAndAfterReopening) {
  struct Case {
    std::u16string name;
    Bytes contents;
    bool compressed;  // expected stored form
  };
  // The empty file comes first: an archive that has stored nothing yet.
  const Case cases[] = {
      {u"empty.txt", {}, false},
      {u"one.txt", ToBytes("x"), false},
      {u"settings.ini", Compressible(20000), true},
      {u"noise.bin", RandomBytes(5000, 3), false},
      {u"sub\\模型\\Мир.txt", Compressible(300), true},
  };
  // A nested archive name is the prefix of every full name.
  const std::u16string archiveName = u"help\\script";
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(Base(), archiveName), PackageResult::kOk);
    for (const Case& c : cases) {
      SCOPED_TRACE(platform::Utf8FromUtf16(c.name));
      ASSERT_EQ(archive.SetFileData(c.name, c.contents.data(), Size(c.contents)), PackageResult::kOk);
      EXPECT_TRUE(archive.indexChanged());
      const auto* record = archive.FindEntry(archiveName + u"\\" + c.name, false);
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(record->uncompressedLength, c.contents.size());
      if (c.compressed) {
        EXPECT_LT(record->storedLength, c.contents.size());
      } else {
        EXPECT_EQ(record->storedLength, c.contents.size());
      }
      std::vector<uint8_t> out = {7};
      ASSERT_EQ(archive.GetFileData(c.name, false, &out), PackageResult::kOk);
      EXPECT_EQ(out, c.contents);
    }
    EXPECT_EQ(archive.Close(), PackageResult::kOk);
  }

  // On disk: format 188, one record per file, each compressed (they are mostly zeros),
  // pointing at the stored bytes.
  const Bytes file = ReadWholeFile(Pck());
  const auto parsed = Parse188(file);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->records.size(), std::size(cases));
  for (const auto& record : parsed->records) {
    SCOPED_TRACE(record.name);
    EXPECT_TRUE(record.compressed);
    EXPECT_EQ(GetU32(record.raw, 272), 0u);
    for (std::size_t i = record.name.size(); i < 260; ++i) {
      ASSERT_EQ(record.raw[i], 0) << "name padding at " << i;
    }
    if (record.stored == 0) continue;
    ASSERT_LE(uint64_t{record.position} + record.stored, parsed->indexPosition);
    const Bytes stored(file.begin() + record.position, file.begin() + record.position + record.stored);
    if (record.stored < record.size) {
      Bytes inflated(record.size);
      uLongf size = record.size;
      ASSERT_EQ(uncompress(inflated.data(), &size, stored.data(), record.stored), Z_OK);
      EXPECT_EQ(size, record.size);
      EXPECT_EQ(stored, Deflate(inflated)) << "contents are compressed as compress2 does";
    }
  }

  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), archiveName), PackageResult::kOk);
  EXPECT_EQ(archive.index().size(), std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::Utf8FromUtf16(c.name));
    const auto* record = archive.FindEntry(archiveName + u"\\" + c.name, false);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(TavrinFilePackage::NameOf(*record), archiveName + u"\\" + c.name);
    EXPECT_EQ(Contents(archive, archiveName + u"\\" + c.name), c.contents);
  }
}

TEST_F(ArchiveTest, AnEmptyFileIsTheFirstThingStored) {
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
  ASSERT_EQ(archive.SetFileData(u"empty", nullptr, 0), PackageResult::kOk);
  const auto* record = archive.FindEntry(u"configs\\empty", false);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->storedLength, 0u);
  EXPECT_EQ(record->uncompressedLength, 0u);
  EXPECT_EQ(archive.streamLength(), 36u) << "an empty file writes no data";
  EXPECT_TRUE(archive.indexChanged());
}

TEST_F(ArchiveTest, PreparedStoredFormIsKeptByteForByte) {
  const Bytes contents = Compressible(4000);
  const Bytes zipped = Deflate(contents);
  const Bytes raw = RandomBytes(64, 4);
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileCompressedData(u"configs\\Zipped.TXT", zipped.data(), Size(zipped), Size(contents)),
              PackageResult::kOk);
    ASSERT_EQ(archive.SetFileCompressedData(u"configs\\raw.bin", raw.data(), Size(raw), Size(raw)), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileCompressedData(u"configs\\empty", nullptr, 0, 0), PackageResult::kOk);
    EXPECT_EQ(Contents(archive, u"configs\\zipped.txt"), contents);
  }
  const Bytes file = ReadWholeFile(Pck());
  const auto parsed = Parse188(file);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->records.size(), 3u);
  for (const auto& record : parsed->records) {
    SCOPED_TRACE(record.name);
    const Bytes& expected = record.name == "configs\\Zipped.TXT" ? zipped
                            : record.name == "configs\\raw.bin"  ? raw
                                                                 : Bytes{};
    EXPECT_EQ(record.stored, expected.size());
    EXPECT_EQ(Bytes(file.begin() + record.position, file.begin() + record.position + record.stored), expected);
  }
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  EXPECT_EQ(Contents(archive, u"configs\\zipped.txt"), contents);
  EXPECT_EQ(Contents(archive, u"configs\\raw.bin"), raw);
  EXPECT_TRUE(Contents(archive, u"configs\\empty").empty());
}

// Committed bytes are never overwritten: a store of the same lengths also goes to the end,
// so an update cut short leaves the old contents under the old index.
TEST_F(ArchiveTest, EveryStoreAppendsAndMarksTheIndexChanged) {
  const Bytes oldBytes = ToBytes("AAAA");
  const Bytes newBytes = ToBytes("BBBB");
  uint32_t oldPosition = 0;
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"a", oldBytes.data(), 4), PackageResult::kOk);
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
    EXPECT_TRUE(archive.indexChanged()) << "Save leaves the flag to its callers";
    archive.clearIndexChanged();
    oldPosition = archive.FindEntry(u"configs\\a", false)->dataPosition;
    EXPECT_EQ(oldPosition, 36u) << "the first store lands after the first index";
    const uint64_t end = archive.streamLength();

    ASSERT_EQ(archive.SetFileData(u"a", newBytes.data(), 4), PackageResult::kOk);
    EXPECT_TRUE(archive.indexChanged());
    const auto* record = archive.FindEntry(u"configs\\a", false);
    EXPECT_EQ(record->dataPosition, end);
    EXPECT_EQ(record->storedLength, 4u);
    EXPECT_EQ(Contents(archive, u"configs\\a"), newBytes);
  }
  const Bytes file = ReadWholeFile(Pck());
  EXPECT_EQ(Bytes(file.begin() + oldPosition, file.begin() + oldPosition + 4), oldBytes);
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  EXPECT_EQ(Contents(archive, u"configs\\a"), newBytes);
}

TEST_F(ArchiveTest, OpenCutsAnUncommittedWriteAway) {
  const Bytes first = Compressible(1000);
  const Bytes second = RandomBytes(700, 5);
  Bytes committed;
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"first", first.data(), Size(first)), PackageResult::kOk);
  }
  committed = ReadWholeFile(Pck());
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"second", second.data(), Size(second)), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"first", second.data(), Size(second)), PackageResult::kOk);
  }
  // Data, index and tail reached the disk, but the commit word did not.
  Bytes interrupted = ReadWholeFile(Pck());
  ASSERT_GT(interrupted.size(), committed.size());
  SetU32(&interrupted, 4, Size(committed));
  WriteImage(interrupted);

  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    {
      TavrinFilePackage archive;
      ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
      EXPECT_EQ(archive.streamLength(), committed.size());
      EXPECT_EQ(archive.index().size(), 1u);
      EXPECT_EQ(Contents(archive, u"configs\\first"), first);
      EXPECT_EQ(archive.FindEntry(u"configs\\second", false), nullptr);
    }
    EXPECT_EQ(ReadWholeFile(Pck()), committed);
    // Plain junk after the commit goes the same way.
    Bytes junk = committed;
    junk.insert(junk.end(), 333, 0xEE);
    WriteImage(junk);
  }
}

TEST_F(ArchiveTest, TwoSavesInARowAppendTwoIndexes) {
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
  const Bytes data = Compressible(500);
  ASSERT_EQ(archive.SetFileData(u"a", data.data(), Size(data)), PackageResult::kOk);
  const uint64_t beforeIndexes = archive.streamLength();
  ASSERT_EQ(archive.Save(), PackageResult::kOk);
  const uint64_t afterFirst = archive.streamLength();
  ASSERT_EQ(archive.Save(), PackageResult::kOk);
  const uint64_t afterSecond = archive.streamLength();
  EXPECT_EQ(afterSecond - afterFirst, afterFirst - beforeIndexes);
  // Closed without a further index.
  archive.clearIndexChanged();
  ASSERT_EQ(archive.Close(), PackageResult::kOk);

  const Bytes file = ReadWholeFile(Pck());
  const auto parsed = Parse188(file);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->archiveLength, afterSecond);
  EXPECT_EQ(parsed->indexPosition, afterFirst);
  // The first index is still intact before the second.
  Bytes firstCommit(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(afterFirst));
  SetU32(&firstCommit, 4, static_cast<uint32_t>(afterFirst));
  const auto firstParsed = Parse188(firstCommit);
  ASSERT_TRUE(firstParsed.has_value());
  EXPECT_EQ(firstParsed->indexPosition, beforeIndexes);
  EXPECT_EQ(firstParsed->records.size(), 1u);
}

TEST_F(ArchiveTest, RemoveFileMatchesTheKeyExactly) {
  const Bytes data = ToBytes("bytes");
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"a.txt", data.data(), 5), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"B.TXT", data.data(), 5), PackageResult::kOk);
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
    archive.clearIndexChanged();

    for (const char16_t* mixed : {u"Configs\\A.txt", u"configs\\A.txt", u"configs\\B.TXT", u"configs\\missing"}) {
      EXPECT_EQ(archive.RemoveFile(mixed), PackageResult::kOk);
      EXPECT_FALSE(archive.indexChanged()) << platform::Utf8FromUtf16(mixed);
    }
    EXPECT_EQ(archive.index().size(), 2u);

    EXPECT_EQ(archive.RemoveFile(u"configs\\b.txt"), PackageResult::kOk);
    EXPECT_TRUE(archive.indexChanged());
    EXPECT_EQ(archive.FindEntry(u"configs\\B.TXT", false), nullptr);
    EXPECT_EQ(Contents(archive, u"configs\\a.txt"), data);
  }
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  EXPECT_EQ(archive.index().size(), 1u);
  EXPECT_EQ(archive.FindEntry(u"configs\\b.txt", false), nullptr);
}

TEST_F(ArchiveTest, NamesTheFieldCannotHoldAreRefused) {
  // "configs\" takes 8 of the 259 bytes a name may have.
  struct Case {
    const char* what;
    std::u16string name;  // under the archive
    bool fits;
  };
  const Case cases[] = {
      {"259 bytes", std::u16string(251, u'n'), true},
      {"260 bytes", std::u16string(252, u'n'), false},
      {"259 bytes of which 250 in Chinese", std::u16string(125, u'中') + u"x", true},
      {"260 bytes of which 252 in Chinese", std::u16string(126, u'中'), false},
      {"Hangul", u"한국어.txt", false},
      {"beyond the BMP", u"x😀.txt", false},
  };
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
  const Bytes data = ToBytes("data");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t entries = archive.index().size();
    const uint64_t length = archive.streamLength();
    const bool changed = archive.indexChanged();
    const std::u16string fullName = u"configs\\" + c.name;
    if (c.fits) {
      ASSERT_EQ(archive.SetFileData(c.name, data.data(), 4), PackageResult::kOk);
      const auto* record = archive.FindEntry(fullName, false);
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(TavrinFilePackage::NameOf(*record), fullName);
      continue;
    }
    EXPECT_EQ(archive.SetFileData(c.name, data.data(), 4), PackageResult::kBadName);
    EXPECT_EQ(archive.SetFileCompressedData(fullName, data.data(), 4, 4), PackageResult::kBadName);
    EXPECT_EQ(archive.FindEntry(fullName, true), nullptr);
    EXPECT_EQ(archive.index().size(), entries);
    EXPECT_EQ(archive.streamLength(), length);
    EXPECT_EQ(archive.indexChanged(), changed);
  }
  ASSERT_EQ(archive.Close(), PackageResult::kOk);
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  EXPECT_EQ(archive.index().size(), 2u);
  EXPECT_EQ(Contents(archive, u"configs\\" + std::u16string(251, u'n')), data);
}

TEST_F(ArchiveTest, CloseAndDestructionWriteAChangedIndex) {
  const Bytes data = ToBytes("kept");
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"by-close", data.data(), 4), PackageResult::kOk);
    ASSERT_EQ(archive.Close(), PackageResult::kOk);
    EXPECT_FALSE(archive.isOpen());
    EXPECT_FALSE(archive.indexChanged());
    ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileData(u"by-destructor", data.data(), 4), PackageResult::kOk);
  }
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  EXPECT_EQ(Contents(archive, u"configs\\by-close"), data);
  EXPECT_EQ(Contents(archive, u"configs\\by-destructor"), data);
}

// An archive whose committed length is 256 bytes short of 4 GiB, in a sparse ".pck" at the
// split size and a sparse ".pkx" that ends with an empty index.
void WriteArchiveNearFourGiB(const std::filesystem::path& pck, const std::filesystem::path& pkx, uint32_t length) {
  constexpr uint64_t kSplit = archive_format::kSplitSize;
  platform::File file;
  ASSERT_EQ(file.Open(pck.u16string(), platform::FileMode::kCreate), 0);
  Bytes header;
  for (uint32_t word : {0x4DCA23EFu, length, 0x56A089B7u}) archive_image::PutU32(&header, word);
  ASSERT_TRUE(file.Write(header.data(), header.size()));
  ASSERT_TRUE(file.SetSize(kSplit));
  ASSERT_EQ(file.Open(pkx.u16string(), platform::FileMode::kCreate), 0);
  ASSERT_TRUE(file.SetSize(length - kSplit));
  Bytes tail;
  for (uint32_t word : {0x56A2E3B1u, 188u, (length - 24) ^ 0x58E3B20Du, 0x67AC431Fu, 0u, 188u})
    archive_image::PutU32(&tail, word);
  ASSERT_TRUE(file.Seek(static_cast<int64_t>(length - kSplit - 24), platform::SeekOrigin::kStart));
  ASSERT_TRUE(file.Write(tail.data(), tail.size()));
}

TEST_F(ArchiveTest, StoresThatWouldPassFourGiBFail) {
  constexpr uint32_t kLength = 0xFFFFFF00;
  WriteArchiveNearFourGiB(Pck(), Pkx(), kLength);
  if (HasFatalFailure()) return;
  // Fits below 4 GiB by itself, but leaves no room for an index record and the tail.
  const Bytes fits = RandomBytes(0xF0, 6);
  const Bytes tooLong = RandomBytes(0x100, 7);
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
    EXPECT_EQ(archive.streamLength(), kLength);

    // A failed store of a new name leaves no entry behind.
    EXPECT_EQ(archive.SetFileCompressedData(u"configs\\new", tooLong.data(), Size(tooLong), Size(tooLong)),
              PackageResult::kWriteFailed);
    EXPECT_EQ(archive.FindEntry(u"configs\\new", false), nullptr);
    EXPECT_FALSE(archive.indexChanged());
    EXPECT_EQ(archive.streamLength(), kLength);

    // One that fits is stored, and reads back from the continuation's far end.
    ASSERT_EQ(archive.SetFileCompressedData(u"configs\\fits", fits.data(), Size(fits), Size(fits)), PackageResult::kOk);
    EXPECT_EQ(archive.FindEntry(u"configs\\fits", false)->dataPosition, kLength);
    EXPECT_EQ(Contents(archive, u"configs\\fits"), fits);

    // A failed store of an existing name changes nothing of its record.
    EXPECT_EQ(archive.SetFileData(u"fits", tooLong.data(), Size(tooLong)), PackageResult::kWriteFailed);
    const auto* record = archive.FindEntry(u"configs\\fits", false);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->dataPosition, kLength);
    EXPECT_EQ(record->storedLength, fits.size());
    EXPECT_EQ(Contents(archive, u"configs\\fits"), fits);

    // Now the index itself no longer fits below 4 GiB.
    EXPECT_EQ(archive.Save(), PackageResult::kWriteFailed);
    EXPECT_EQ(archive.Close(), PackageResult::kWriteFailed);
    EXPECT_TRUE(archive.isOpen()) << "a failed index write keeps the archive open";
    EXPECT_EQ(archive.Close(), PackageResult::kOk);
  }
  EXPECT_EQ(std::filesystem::file_size(Pck()), archive_format::kSplitSize);

  // Nothing was committed: the archive opens as it was.
  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  EXPECT_EQ(archive.streamLength(), kLength);
  EXPECT_TRUE(archive.index().empty());
  ASSERT_EQ(archive.Close(), PackageResult::kOk);
  EXPECT_EQ(std::filesystem::file_size(Pkx()), kLength - archive_format::kSplitSize);
}

}  // namespace
