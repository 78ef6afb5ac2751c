// The parsers of untrusted server and package bytes, on their own.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/client_path.h"
#include "engine/server_tree.h"
#include "net/file_list.h"
#include "net/parse_url.h"
#include "net/patch_list.h"
#include "net/update_package.h"
#include "platform/text.h"

namespace {

using testsupport::ListedFile;

struct Counters {
  std::atomic<int32_t> total{-5};
  std::atomic<int32_t> done{-5};
  std::atomic<bool> cancel{false};
  ListProgress progress() { return ListProgress{total, done, cancel}; }
};

TEST(FileListTest, ReadsEntriesAndLaterDuplicatesReplaceEarlierOnes) {
  std::vector<testsupport::ListEntry> entries = {
      testsupport::EntryOf({u"models\\a.ski", "first"}),
      testsupport::EntryOf({u"help\\readme.txt", "text", false}),
      testsupport::EntryOf({u"models\\a.ski", "second version"}),
      testsupport::EntryOf({u"gone.dll", "", true, true}),
  };
  const std::vector<uint8_t> bytes = testsupport::FileListBytes(entries);
  FileTable table = {{u"stale", FileInfo{}}};
  Counters counters;
  ASSERT_TRUE(ReadFileList(bytes.data(), bytes.size(), &table, counters.progress()));
  EXPECT_EQ(counters.total, 4);
  EXPECT_EQ(counters.done, 4);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table.count(u"stale"), 0u);
  EXPECT_EQ(table[u"models\\a.ski"].digest, testsupport::Md5Of("second version"));
  EXPECT_EQ(table[u"models\\a.ski"].size, 14u);
  EXPECT_EQ(table[u"help\\readme.txt"].storedSize, 4u);
  EXPECT_EQ(table[u"gone.dll"].size, kDeleteSize);
}

TEST(FileListTest, EmptyListCountsOneItem) {
  const std::vector<uint8_t> bytes = {0, 0, 0, 0};
  FileTable table;
  Counters counters;
  ASSERT_TRUE(ReadFileList(bytes.data(), bytes.size(), &table, counters.progress()));
  EXPECT_TRUE(table.empty());
  EXPECT_EQ(counters.total, 1);
  EXPECT_EQ(counters.done, 1);
}

TEST(FileListTest, RefusesDamagedLists) {
  const std::vector<uint8_t> good = testsupport::FileListBytes({testsupport::EntryOf({u"a.txt", "abc"})});
  std::vector<uint8_t> negativeLength = good;
  negativeLength[5] = 0x80;
  std::vector<uint8_t> hugeCount = good;
  hugeCount[3] = 0xFF;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"no count", {1, 0, 0}},
      {"entry cut short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"negative name length", negativeLength},
      {"count beyond the bytes", hugeCount},
  };
  for (const auto& c : cases) {
    FileTable table;
    Counters counters;
    EXPECT_FALSE(ReadFileList(c.bytes.data(), c.bytes.size(), &table, counters.progress())) << c.what;
  }
}

TEST(FileListTest, CancelStopsTheParseWithTrue) {
  const std::vector<uint8_t> bytes =
      testsupport::FileListBytes({testsupport::EntryOf({u"a", "1"}), testsupport::EntryOf({u"b", "2"})});
  FileTable table;
  Counters counters;
  counters.cancel = true;
  EXPECT_TRUE(ReadFileList(bytes.data(), bytes.size(), &table, counters.progress()));
  EXPECT_TRUE(table.empty());
  EXPECT_EQ(counters.done, 2);
}

TEST(PatchListTest, ChoosesByTheRules) {
  const struct {
    const char* what;
    std::string text;
    int32_t client, server;
    std::u16string url;
    int32_t from, to;
  } cases[] = {
      {"exact line wins at once", "10 20 A\n17 20 C\n17 20 D\n", 17, 20, u"C", 17, 20},
      {"greatest from not above the client", "10 20 A\n15 20 B\n18 20 X\n", 17, 20, u"B", 15, 20},
      {"greatest to among equal froms", "15 19 A\r\n15 21 B\r\n15 20 C\r\n", 17, 22, u"B", 15, 21},
      {"a later line of the same pair replaces", "15 20 A\n15 20 B\n", 17, 22, u"B", 15, 20},
      {"every from above the client", "18 20 A\n19 20 B\n", 17, 20, u"", -1, -1},
      {"lines without three fields are ignored", "17\n17 20\nx 17 20 A\n16 20 B\n", 17, 20, u"B", 16, 20},
      {"carriage return ends the URL", "16 20 http://h/p.cup\r\n", 17, 20, u"http://h/p.cup", 16, 20},
      {"text ends at a zero byte", std::string("16 20 A\n", 8) + std::string(1, '\0') + "17 20 B\n", 17, 20, u"A", 16,
       20},
      {"URL of 260 characters ignored", "16 20 " + std::string(260, 'u') + "\n15 20 B\n", 17, 20, u"B", 15, 20},
      {"empty list", "", 17, 20, u"", -1, -1},
      // Taking such a line would leave the client where it was and start the update again.
      {"to-version at the client's is never taken", "1 2 A\n", 2, 3, u"", -1, -1},
      {"to-version below the client's is never taken", "1 2 A\n2 1 B\n", 2, 3, u"", -1, -1},
      {"a greater from does not win with a to-version at the client's", "10 20 A\n15 17 B\n", 17, 20, u"A", 10, 20},
      {"a stale line still serves the client below it", "1 2 A\n", 1, 3, u"A", 1, 2},
  };
  for (const auto& c : cases) {
    int32_t from = 99;
    int32_t to = 99;
    const auto* text = reinterpret_cast<const uint8_t*>(c.text.data());
    EXPECT_EQ(ChoosePatchPackage(text, c.text.size(), c.client, c.server, &from, &to), c.url) << c.what;
    EXPECT_EQ(from, c.from) << c.what;
    EXPECT_EQ(to, c.to) << c.what;
  }
}

TEST(PatchListTest, LinesThatCanNeverHelpAClient) {
  const struct {
    const char* what;
    std::vector<PatchPair> lines;
    int32_t server;
    std::vector<bool> canHelp;
  } cases[] = {
      {"every line of a chain", {{1, 2}, {2, 3}, {3, 4}}, 4, {true, true, true}},
      {"a line to no later version", {{2, 2}, {3, 1}}, 4, {false, false}},
      {"a shorter line of the same from-version", {{1, 2}, {1, 3}, {2, 3}}, 3, {false, true, true}},
      {"a line left from an earlier release", {{1, 2}}, 3, {true}},
      {"an earlier copy of the same pair", {{1, 3}, {1, 3}}, 3, {true, true}},
      {"a shorter line hidden also when it comes first",
       {{1, 2}, {1, 4}, {2, 3}, {3, 4}},
       4,
       {false, true, true, true}},
      {"taken once the server reaches it", {{5, 9}, {5, 7}}, 6, {true, true}},
      {"a wide line still taken in its gaps", {{1, 10}, {2, 3}, {5, 10}}, 10, {true, true, true}},
  };
  for (const auto& c : cases) {
    std::vector<bool> canHelp;
    for (std::size_t i = 0; i < c.lines.size(); ++i) canHelp.push_back(PatchLineCanHelp(c.lines, i, c.server));
    EXPECT_EQ(canHelp, c.canHelp) << c.what;
  }
}

TEST(ParseUrlTest, SplitsTheParts) {
  const struct {
    // Parts not named are empty.
    std::u16string url, scheme{}, host{}, port{}, path{}, query{};
  } cases[] = {
      {.url = u"http://h.example/p/a.cup?x=1",
       .scheme = u"http",
       .host = u"h.example",
       .path = u"/p/a.cup",
       .query = u"?x=1"},
      {.url = u"host:81/x", .host = u"host", .port = u"81", .path = u"/x"},
      {.url = u"http://h:8080", .scheme = u"http", .host = u"h", .port = u"8080"},
      {.url = u"http://h?q=/z", .scheme = u"http", .host = u"h", .query = u"?q=/z"},
      {.url = u"/only/path", .path = u"/only/path"},
      {.url = u"http://", .host = u"http", .path = u"//"},
      {.url = u""},
      // Nothing in the query splits: a "?" before "://" leaves no scheme.
      {.url = u"a?b://c/d", .host = u"a", .query = u"?b://c/d"},
      {.url = u"h/p?u=http://x:1/y", .host = u"h", .path = u"/p", .query = u"?u=http://x:1/y"},
      {.url = u"http://?x", .scheme = u"http", .query = u"?x"},
  };
  for (const auto& c : cases) {
    const UrlParts parts = ParseUrl(c.url);
    const std::string what(c.url.begin(), c.url.end());
    EXPECT_EQ(parts.scheme, c.scheme) << what;
    EXPECT_EQ(parts.host, c.host) << what;
    EXPECT_EQ(parts.port, c.port) << what;
    EXPECT_EQ(parts.path, c.path) << what;
    EXPECT_EQ(parts.query, c.query) << what;
  }
}

TEST(ClientPathTest, RefusesPathsThatLeaveTheClientFolder) {
  const std::u16string refused[] = {u"",
                                    u"\\abs.txt",
                                    u"/abs.txt",
                                    u"C:\\x.txt",
                                    u"c:x.txt",
                                    u"\\\\srv\\s",
                                    u"..\\x.txt",
                                    u"models\\..\\..\\x",
                                    u"a/../b",
                                    u"./x",
                                    u"a\\.\\b",
                                    u"a\\..",
                                    std::u16string(u"a\0b", 3),
                                    u"x.txt:stream"};
  for (const std::u16string& path : refused)
    EXPECT_FALSE(IsSafeClientPath(path)) << std::string(path.begin(), path.end());
  const std::u16string accepted[] = {u"a.txt", u"models\\a.ski", u"help/readme.txt", u"a..b\\c.d", u"...x"};
  for (const std::u16string& path : accepted)
    EXPECT_TRUE(IsSafeClientPath(path)) << std::string(path.begin(), path.end());
  // Names no longer than an update package's record can hold.
  EXPECT_TRUE(IsSafeClientPath(std::u16string(259, u'n')));
  EXPECT_FALSE(IsSafeClientPath(std::u16string(260, u'n')));
  std::u16string deep;
  for (int i = 0; i < 3000; ++i) deep += u"d\\";
  EXPECT_FALSE(IsSafeClientPath(deep + u"f.txt"));
}

TEST(ClientPathTest, ArchiveOwnershipIsAPlainPrefixTest) {
  EXPECT_TRUE(BelongsToArchive(u"modelsX\\a.ski", u"models"));
  EXPECT_TRUE(IsArchivePath(u"help\\script\\a.lua"));
  EXPECT_FALSE(IsArchivePath(u"help\\readme.txt"));
  EXPECT_FALSE(IsArchivePath(u"Models\\a.ski"));
  // "/" is "\" to the file system, and so to the archives.
  EXPECT_TRUE(BelongsToArchive(u"help/script\\a.lua", u"help\\script"));
  EXPECT_TRUE(IsArchivePath(u"help/script.pck"));
  EXPECT_FALSE(BelongsToArchive(u"help", u"help\\script"));
  EXPECT_EQ(ArchiveEntryName(u"help/script/a/b.lua"), u"help\\script\\a\\b.lua");
}

TEST(ClientPathTest, NoPathNamesAnArchiveFile) {
  const std::u16string archiveFiles[] = {
      u"configs.pck",        u"configs.pkx",       u"help\\script.pck",  u"help/script.pck", u"HELP\\SCRIPT.PCK",
      u"Configs.Pkx",        u"gfx.pck.",          u"gfx.pck ",          u"gfx.pck. .",      u"help\\\\script.pck",
      u"help//script.pck",   u"help.\\script.pck", u"help \\script.pck", u"trees.pck\\",     u"\u017Ffx.pck",
      u"l\u0131tmodels.pck", u"textures.PKX..",
  };
  for (const std::u16string& path : archiveFiles) {
    const std::string shown = platform::Utf8FromUtf16(path);
    EXPECT_TRUE(NamesArchiveFile(path)) << shown;
    EXPECT_FALSE(IsUsableClientPath(path)) << shown;
  }
  const std::u16string otherFiles[] = {u"configs.pck2",       u"configsX.pck", u"help\\script\\a.pck",
                                       u"help.pck",           u"script.pck",   u"data\\configs.pck",
                                       u"configs.pck\\a.txt", u"configs.pc",   u"gfx .pck"};
  for (const std::u16string& path : otherFiles) {
    EXPECT_FALSE(NamesArchiveFile(path)) << platform::Utf8FromUtf16(path);
    EXPECT_TRUE(IsUsableClientPath(path)) << platform::Utf8FromUtf16(path);
  }
}

class PackageIndexTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> package_ = testsupport::PackageBytes(
      3, 7, {ListedFile{u"models\\a.ski", std::string(500, 'a')}, ListedFile{u"b.txt", "bee", false}});
  uint32_t index_ = testsupport::PackageIndexOffset(package_);

  void Mask(std::size_t at, uint32_t value, uint32_t mask) {
    for (int i = 0; i < 4; ++i)
      package_.at(at + static_cast<std::size_t>(i)) = static_cast<uint8_t>((value ^ mask) >> (8 * i));
  }
  bool Read(std::vector<PackageRecord>* records) {
    MemoryPackageSource source(package_.data(), package_.size());
    PackageHeader header;
    return ReadPackageHeader(source, &header) && ReadPackageIndex(source, header, records);
  }
};

TEST_F(PackageIndexTest, ReadsHeaderAndRecords) {
  MemoryPackageSource source(package_.data(), package_.size());
  PackageHeader header;
  ASSERT_TRUE(ReadPackageHeader(source, &header));
  EXPECT_EQ(header.minimumVersion, 3);
  EXPECT_EQ(header.targetVersion, 7);
  std::vector<PackageRecord> records;
  ASSERT_TRUE(ReadPackageIndex(source, header, &records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, u"models\\a.ski");
  EXPECT_EQ(records[0].size, 500u);
  EXPECT_LT(records[0].storedSize, 500u);
  EXPECT_EQ(records[0].dataOffset, 12u);
  EXPECT_EQ(records[1].digest, testsupport::Md5Of("bee"));
}

TEST_F(PackageIndexTest, RefusesDamage) {
  const std::size_t firstRecord = index_ + 4;
  const std::size_t firstFixed = firstRecord + 2 + 2 * 12;
  const struct {
    const char* what;
    std::size_t at;
    uint32_t value, mask;
  } cases[] = {
      {"index beyond the end", 8, 1u << 30, 0x3E7A19C5},
      {"count the index cannot hold", index_, 1000, 0x71D04B2E},
      {"count of four billion", index_, 0xFFFFFFFF, 0x71D04B2E},
      {"data beyond the end", firstFixed + 24, 1u << 30, 0x19A8C65B},
      {"stored size beyond the end", firstFixed + 20, 0x7FFFFFFF, 0x4F6B07D1},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> saved = package_;
    Mask(c.at, c.value, c.mask);
    std::vector<PackageRecord> records;
    EXPECT_FALSE(Read(&records)) << c.what;
    package_ = saved;
  }
  const std::vector<uint8_t> saved = package_;
  for (uint16_t length : {uint16_t{260}, uint16_t{0x8000}}) {
    package_[firstRecord] = static_cast<uint8_t>(length & 0xFF);
    package_[firstRecord + 1] = static_cast<uint8_t>(length >> 8);
    std::vector<PackageRecord> records;
    EXPECT_FALSE(Read(&records)) << "name length " << length;
    package_ = saved;
  }
  package_.resize(package_.size() - 1);
  std::vector<PackageRecord> records;
  EXPECT_FALSE(Read(&records)) << "short read in the last record";
}

}  // namespace
