#include "archive/tavrin_file_package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive_fixture.h"
#include "archive_image.h"
#include "support/file_bytes.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;

namespace {

using archive_image::Bytes;
using archive_image::Deflate;
using archive_image::Image;
using archive_image::Record;
using archive_image::SetU32;
using archive_image::ToBytes;

const Bytes kLongText = [] {
  Bytes text;
  while (text.size() < 3000) {
    const std::string line = "line " + std::to_string(text.size()) + " of a settings file\r\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  return text;
}();

// One archive with every kind of entry, in the format given.
Bytes ArchiveWithEveryKindOfEntry(uint32_t format) {
  Image image(format);
  const Bytes raw = ToBytes("plain text");
  const Bytes zipped = Deflate(kLongText);
  const Bytes looksZipped = Deflate(ToBytes("not to be inflated, not to be inflated"));
  const uint32_t rawAt = image.AddData(raw);
  const uint32_t zippedAt = image.AddData(zipped);
  const uint32_t looksZippedAt = image.AddData(looksZipped);
  const uint32_t longerAt = image.AddData(ToBytes("12345678"));
  const auto size = [](const Bytes& b) { return static_cast<uint32_t>(b.size()); };
  // Records both as they are and compressed.
  image.AddRecord(Record("configs\\raw.txt", rawAt, size(raw), size(raw)), false);
  image.AddRecord(Record("configs\\zipped.txt", zippedAt, size(kLongText), size(zipped)), true);
  // Stored length equal to, or above, the uncompressed length: the bytes as they are.
  image.AddRecord(Record("configs\\as-is.bin", looksZippedAt, size(looksZipped), size(looksZipped)), true);
  image.AddRecord(Record("configs\\longer.bin", longerAt, 3, 8), false);
  // Empty: its position points nowhere and must not be read.
  image.AddRecord(Record("configs\\empty.txt", 0xFFFFFF00, 0, 0), true);
  image.AddRecord(Record("configs\\empty-but-sized.txt", 0xFFFFFF00, 5, 0), false);
  return image.Finish();
}

void ExpectEveryKindOfEntry(TavrinFilePackage& archive) {
  EXPECT_EQ(archive.index().size(), 6u);
  EXPECT_EQ(Contents(archive, u"configs\\raw.txt"), ToBytes("plain text"));
  EXPECT_EQ(Contents(archive, u"configs\\zipped.txt"), kLongText);
  EXPECT_EQ(Contents(archive, u"configs\\as-is.bin"), Deflate(ToBytes("not to be inflated, not to be inflated")));
  EXPECT_EQ(Contents(archive, u"configs\\longer.bin"), ToBytes("12345678"));
  for (const char16_t* empty : {u"configs\\empty.txt", u"configs\\empty-but-sized.txt"}) {
    std::vector<uint8_t> out = {1, 2, 3};
    EXPECT_EQ(archive.GetFileData(empty, true, &out), PackageResult::kOk);
    EXPECT_TRUE(out.empty());
  }
  // The archive's name is put in front of a short name.
  std::vector<uint8_t> out;
  EXPECT_EQ(archive.GetFileData(u"raw.txt", false, &out), PackageResult::kOk);
  EXPECT_EQ(out, ToBytes("plain text"));
}

TEST_F(ArchiveTest, OpensEveryFormatAndWritesItBackAs188) {
  for (uint32_t format : {188u, 0x20001u, 0x20002u}) {
    SCOPED_TRACE(format);
    WriteImage(ArchiveWithEveryKindOfEntry(format));
    {
      TavrinFilePackage archive;
      ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
      EXPECT_TRUE(archive.isOpen());
      EXPECT_FALSE(archive.indexChanged());
      EXPECT_EQ(archive.format(), format);
      ExpectEveryKindOfEntry(archive);
      ASSERT_EQ(archive.Close(), PackageResult::kOk);
    }
    // Reading changes nothing on disk.
    EXPECT_EQ(ReadWholeFile(Pck()), ArchiveWithEveryKindOfEntry(format));
    EXPECT_FALSE(std::filesystem::exists(Pkx()));

    TavrinFilePackage archive;
    ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
    EXPECT_EQ(archive.format(), 188u);
    ASSERT_EQ(archive.Close(), PackageResult::kOk);
    ASSERT_TRUE(archive_image::Parse188(ReadWholeFile(Pck())).has_value());
    ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
    EXPECT_EQ(archive.format(), 188u);
    ExpectEveryKindOfEntry(archive);
  }
}

TEST_F(ArchiveTest, OnlyLatinLettersFoldInLookups) {
  const std::pair<std::string, std::string> entries[] = {
      {"Configs\\A.TXT", "latin"},
      {"configs\\\xA7\xB6\xA7\xD1\xA7\xDB\xA7\xDD.txt", "cyrillic"},  // configs\Файл.txt
      {"configs\\\xA3\xC1.txt", "full-width"},                        // configs\Ａ.txt
      {"configs\\\xD6\xD0\xCE\xC4.txt", "chinese"},                   // configs\中文.txt
  };
  Image image;
  std::vector<uint32_t> positions;
  for (const auto& entry : entries) positions.push_back(image.AddData(ToBytes(entry.second)));
  for (std::size_t i = 0; i < std::size(entries); ++i) {
    const auto size = static_cast<uint32_t>(entries[i].second.size());
    image.AddRecord(Record(entries[i].first, positions[i], size, size), true);
  }
  WriteImage(image.Finish());

  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  struct Lookup {
    std::u16string name;
    const char* contents;  // nullptr: not found
  };
  const Lookup lookups[] = {
      {u"Configs\\A.TXT", "latin"},       {u"configs\\a.txt", "latin"},       {u"CONFIGS\\a.Txt", "latin"},
      {u"configs/a.txt", nullptr},  // "/" is not turned into "\" on lookup
      {u"configs\\Файл.txt", "cyrillic"}, {u"CONFIGS\\Файл.TXT", "cyrillic"}, {u"configs\\файл.txt", nullptr},
      {u"configs\\ФАЙЛ.txt", nullptr},    {u"configs\\Ａ.txt", "full-width"}, {u"configs\\ａ.txt", nullptr},
      {u"configs\\中文.txt", "chinese"},  {u"configs\\中文", nullptr},
  };
  for (const Lookup& lookup : lookups) {
    SCOPED_TRACE(platform::Utf8FromUtf16(lookup.name));
    std::vector<uint8_t> out = {9};
    const PackageResult result = archive.GetFileData(lookup.name, true, &out);
    if (lookup.contents == nullptr) {
      EXPECT_EQ(result, PackageResult::kFileNotFound);
      EXPECT_EQ(out, Bytes{9}) << "output is left untouched";
      EXPECT_EQ(archive.FindEntry(lookup.name, false), nullptr);
    } else {
      EXPECT_EQ(result, PackageResult::kOk);
      EXPECT_EQ(AsText(out), lookup.contents);
    }
  }
  // The record keeps the letter case it was stored with.
  const auto* record = archive.FindEntry(u"configs\\a.txt", false);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(TavrinFilePackage::NameOf(*record), u"Configs\\A.TXT");
  EXPECT_EQ(TavrinFilePackage::KeyOf(u"ABC\\Ф\\Ａ\\xyz"), u"abc\\Ф\\Ａ\\xyz");
}

TEST_F(ArchiveTest, LaterDuplicateWinsAndSlashesBecomeBackslashes) {
  Image image;
  const uint32_t firstAt = image.AddData(ToBytes("first"));
  const uint32_t secondAt = image.AddData(ToBytes("second"));
  const uint32_t slashAt = image.AddData(ToBytes("slash"));
  image.AddRecord(Record("configs\\dup.txt", firstAt, 5, 5), true);
  image.AddRecord(Record("configs/sub/x.txt", slashAt, 5, 5), false);
  image.AddRecord(Record("CONFIGS\\DUP.TXT", secondAt, 6, 6), true);
  WriteImage(image.Finish());

  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
    EXPECT_EQ(archive.index().size(), 2u);
    EXPECT_EQ(AsText(Contents(archive, u"configs\\dup.txt")), "second");
    const auto* record = archive.FindEntry(u"configs\\sub\\x.txt", false);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(TavrinFilePackage::NameOf(*record), u"configs\\sub\\x.txt");
    EXPECT_EQ(AsText(Contents(archive, u"configs\\SUB\\X.txt")), "slash");
    EXPECT_EQ(archive.FindEntry(u"configs/sub/x.txt", false), nullptr);
    // Loading does not write the normalised name back; the next index write does.
    EXPECT_FALSE(archive.indexChanged());
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
  }
  const auto parsed = archive_image::Parse188(ReadWholeFile(Pck()));
  ASSERT_TRUE(parsed.has_value());
  std::vector<std::string> names;
  for (const auto& record : parsed->records) names.push_back(record.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"CONFIGS\\DUP.TXT", "configs\\sub\\x.txt"}));
}

TEST_F(ArchiveTest, OpenFailuresReportTheirCode) {
  struct Case {
    const char* what;
    std::function<Bytes()> image;
    PackageResult expected;
  };
  const auto with = [](uint32_t format, std::size_t fromEnd, uint32_t value) {
    return [=] {
      Bytes bytes = ArchiveWithEveryKindOfEntry(format);
      SetU32(&bytes, bytes.size() - fromEnd, value);
      return bytes;
    };
  };
  const auto header = [](std::size_t at, uint32_t value) {
    return [=] {
      Bytes bytes = ArchiveWithEveryKindOfEntry(188);
      SetU32(&bytes, at, value);
      return bytes;
    };
  };
  const Case cases[] = {
      {"header magic 1", header(0, 0x4DCA23EE), PackageResult::kHeaderMagicMismatch},
      {"header magic 2", header(8, 0), PackageResult::kHeaderMagicMismatch},
      {"empty file", [] { return Bytes{}; }, PackageResult::kSeekFailed},
      {"header cut short", [] { return Bytes{0xEF, 0x23, 0xCA, 0x4D, 0, 0, 0}; }, PackageResult::kSeekFailed},
      {"format 189", with(188, 4, 189), PackageResult::kUnknownFormat},
      {"format 0x20003", with(0x20001, 4, 0x20003), PackageResult::kUnknownFormat},
      {"tail magic 1", with(188, 24, 0x56A2E3B0), PackageResult::kTailMagicMismatch},
      {"tail magic 2", with(188, 12, 0x67AC431E), PackageResult::kTailMagicMismatch},
      {"old tail magic 1", with(0x20002, 280, archive_image::kTailMagic1), PackageResult::kTailMagicMismatch},
      {"old tail magic 2", with(0x20001, 12, archive_image::kTailMagic2), PackageResult::kTailMagicMismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteImage(c.image());
    TavrinFilePackage archive;
    EXPECT_EQ(archive.Open(Base(), u"configs"), c.expected);
    // The files are open; only Close or Create may follow.
    EXPECT_TRUE(archive.isOpen());
    EXPECT_EQ(archive.FindEntry(u"configs\\raw.txt", false), nullptr);
    EXPECT_EQ(archive.Close(), PackageResult::kOk);
    EXPECT_FALSE(archive.isOpen());
  }

  std::filesystem::remove(Pck());
  TavrinFilePackage archive;
  EXPECT_EQ(archive.Open(Base(), u"configs"), PackageResult::kCannotOpen);
  EXPECT_FALSE(archive.isOpen());
  EXPECT_FALSE(std::filesystem::exists(Pck()));
}

// Every count, length and position read from the archive is checked against what the
// archive holds before it is used: nothing huge is allocated, nothing is read past the
// index, and no continuation file appears.
TEST_F(ArchiveTest, HostileIndexValuesFailWithoutHarm) {
  struct Case {
    const char* what;
    std::function<Bytes()> image;
    PackageResult expected;
  };
  const Bytes record = Record("configs\\a.txt", 12, 1, 1);
  const auto oneRecord = [&](uint32_t format) {
    Image image(format);
    image.AddData(ToBytes("a"));
    image.AddRecord(record, true);
    return image;
  };
  const auto patched = [&](uint32_t format, std::size_t at, uint32_t value, bool fromEnd) {
    return [=] {
      Bytes bytes = oneRecord(format).Finish();
      SetU32(&bytes, fromEnd ? bytes.size() - at : at, value);
      return bytes;
    };
  };
  const auto withRecord = [](uint32_t length, uint32_t secondLength, Bytes body, uint32_t format = 188) {
    return [=] {
      Image image(format);
      image.AddPrefixed(length, secondLength, body);
      return image.Finish();
    };
  };
  // A record whose prefix holds its body's own length.
  const auto withBody = [](Bytes body) {
    return [=] {
      Image image;
      const auto length = static_cast<uint32_t>(body.size());
      image.AddPrefixed(length, length, body);
      return image.Finish();
    };
  };
  const Bytes garbage(40, 0x5A);
  const Case cases[] = {
      {"archive length beyond the files", patched(188, 4, 1000, false), PackageResult::kReadFailed},
      {"archive length 0", patched(188, 4, 0, false), PackageResult::kReadFailed},
      {"archive length inside the header", patched(188, 4, 10, false), PackageResult::kReadFailed},
      // The tail would start before position 0: its positions wrap in 32 bits.
      {"archive length below header and tail",
       [] {
         Bytes bytes = Image().Finish();
         SetU32(&bytes, 4, 20);  // the format word 188 sits at 16
         return bytes;
       },
       PackageResult::kReadFailed},
      {"old archive length below header and tail",
       [] {
         Bytes bytes = Image(0x20001).Finish();
         bytes.resize(200);
         SetU32(&bytes, 196, 0x20001);
         SetU32(&bytes, 4, 200);
         return bytes;
       },
       PackageResult::kReadFailed},
      {"index position 0", patched(188, 16, 0 ^ archive_image::kKey188, true), PackageResult::kReadFailed},
      {"index position 11", patched(188, 16, 11 ^ archive_image::kKey188, true), PackageResult::kReadFailed},
      {"index position past the tail",
       [&] {
         Bytes bytes = oneRecord(188).Finish();
         SetU32(&bytes, bytes.size() - 16, static_cast<uint32_t>(bytes.size() - 23) ^ archive_image::kKey188);
         return bytes;
       },
       PackageResult::kReadFailed},
      {"index position all ones", patched(188, 16, 0xFFFFFFFF ^ archive_image::kKey188, true),
       PackageResult::kReadFailed},
      {"old index position all ones", patched(0x20002, 272, 0xFFFFFFFF ^ archive_image::kKeyA, true),
       PackageResult::kReadFailed},
      {"entry count all ones", patched(188, 8, 0xFFFFFFFF, true), PackageResult::kReadFailed},
      {"old entry count all ones", patched(0x20001, 8, 0xFFFFFFFF, true), PackageResult::kReadFailed},
      {"one entry more than written", patched(188, 8, 2, true), PackageResult::kReadFailed},
      // Room enough after the prefix: the length itself is what fails.
      {"record length 0", withRecord(0, 0, Bytes(20, 0)), PackageResult::kReadFailed},
      {"old record length 0", withRecord(0, 0, Bytes(20, 0), 0x20001), PackageResult::kReadFailed},
      {"record longer than the index", withRecord(41, 41, garbage), PackageResult::kReadFailed},
      {"record length all ones", withRecord(0xFFFFFFFF, 0xFFFFFFFF, garbage), PackageResult::kReadFailed},
      {"compressed record over 64 KiB", withRecord(70000, 70000, Bytes(70000, 0)), PackageResult::kDecompressionFailed},
      {"record that does not inflate", withBody(garbage), PackageResult::kDecompressionFailed},
      {"record inflating short", withBody(Deflate(Bytes(100, 0))), PackageResult::kDecompressionFailed},
      {"record inflating long", withBody(Deflate(Bytes(300, 0))), PackageResult::kDecompressionFailed},
      {"record of 275 raw bytes", withBody(Bytes(275, 0)), PackageResult::kDecompressionFailed},
      {"old length copies differ", withRecord(276, 277, Bytes(276, 0), 0x20002), PackageResult::kLengthCopiesDiffer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes image = c.image();
    WriteImage(image);
    TavrinFilePackage archive;
    EXPECT_EQ(archive.Open(Base(), u"configs"), c.expected);
    EXPECT_TRUE(archive.isOpen());
    EXPECT_EQ(archive.Close(), PackageResult::kOk);
    EXPECT_FALSE(std::filesystem::exists(Pkx()));
    // A header that does not lead to a loadable index is no reason to cut the file.
    EXPECT_EQ(ReadWholeFile(Pck()), image);
  }
}

TEST_F(ArchiveTest, DamagedEntriesFailToReadWithTheirCode) {
  Image image;
  const Bytes good = Deflate(kLongText);
  const Bytes shortStream = Deflate(Bytes(100, 'x'));
  const uint32_t goodAt = image.AddData(good);
  const uint32_t shortAt = image.AddData(shortStream);
  const uint32_t garbageAt = image.AddData(Bytes(20, 0x5A));
  const auto size = [](const Bytes& b) { return static_cast<uint32_t>(b.size()); };
  image.AddRecord(Record("configs\\good", goodAt, size(kLongText), size(good)), true);
  image.AddRecord(Record("configs\\past-the-end", goodAt, 200000, 100000), true);
  image.AddRecord(Record("configs\\wraps", 0xFFFFFFF0, 0x40, 0x20), true);
  image.AddRecord(Record("configs\\huge", shortAt, 0xFFFFFFFF, size(shortStream)), true);
  image.AddRecord(Record("configs\\short", shortAt, 200, size(shortStream)), true);
  image.AddRecord(Record("configs\\garbage", garbageAt, 100, 20), true);
  WriteImage(image.Finish());

  TavrinFilePackage archive;
  ASSERT_EQ(archive.Open(Base(), u"configs"), PackageResult::kOk);
  const struct {
    const char16_t* name;
    PackageResult expected;
  } cases[] = {
      {u"configs\\past-the-end", PackageResult::kReadFailed},
      {u"configs\\wraps", PackageResult::kReadFailed},
      // More than zlib can expand the stored bytes to: refused before any allocation.
      {u"configs\\huge", PackageResult::kDecompressionFailed},
      {u"configs\\short", PackageResult::kDecompressionFailed},
      {u"configs\\garbage", PackageResult::kDecompressionFailed},
      {u"configs\\missing", PackageResult::kFileNotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::Utf8FromUtf16(c.name));
    std::vector<uint8_t> out;
    EXPECT_EQ(archive.GetFileData(c.name, true, &out), c.expected);
    // Whatever failed before, the archive still reads.
    EXPECT_EQ(Contents(archive, u"configs\\good"), kLongText);
  }
}

}  // namespace
