// The server's file lists: the updater's reading into its table, and publish's stricter
// reading and writing, which go through the same entry decoder.
#include "formats/file_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/progress_counters.h"
#include "engine/server_tree.h"

namespace {

struct Counters {
  ProgressCounters figures;
  CancelToken cancel;
  OperationContext progress() { return OperationContext(&cancel, figures); }
  int32_t total() const { return figures.Read().itemsTotal; }
  int32_t done() const { return figures.Read().itemsDone; }
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
  EXPECT_EQ(counters.total(), 4);
  EXPECT_EQ(counters.done(), 4);
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
  EXPECT_EQ(counters.total(), 1);
  EXPECT_EQ(counters.done(), 1);
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
  counters.cancel.Cancel();
  EXPECT_TRUE(ReadFileList(bytes.data(), bytes.size(), &table, counters.progress()));
  EXPECT_TRUE(table.empty());
  EXPECT_EQ(counters.done(), 2);
}

// publish's writer against the tests' own: the same bytes, and both readers take them back.
TEST(FileListTest, EncodedListsReadBackInEveryReader) {
  // Name, content, compressed, deleted.
  const std::vector<testsupport::ListedFile> files = {
      {u"models\\\u00e4\u4e2d.ski", std::string(300, 'm'), true, false},
      {u"help\\readme.txt", "text", false, false},
      {u"empty.txt", "", true, false},
      {u"gone.dll", "", true, true},
  };
  std::vector<testsupport::ListEntry> expected;
  std::vector<ListEntry> entries;
  for (const testsupport::ListedFile& file : files) {
    const testsupport::ListEntry entry = testsupport::EntryOf(file);
    expected.push_back(entry);
    entries.push_back({entry.name, FileInfo{entry.digest, entry.size, entry.storedSize}});
  }
  const std::vector<uint8_t> list = EncodeList(entries);
  EXPECT_EQ(list, testsupport::FileListBytes(expected));

  std::vector<ListEntry> decoded;
  std::string why;
  ASSERT_TRUE(DecodeList(list.data(), list.size(), &decoded, &why)) << why;
  EXPECT_EQ(decoded, entries);

  FileTable table;
  Counters counters;
  ASSERT_TRUE(ReadFileList(list.data(), list.size(), &table, counters.progress()));
  ASSERT_EQ(table.size(), entries.size());
  for (const ListEntry& entry : entries) EXPECT_EQ(table[entry.name], entry.info);

  const std::vector<uint8_t> full = EncodeFullList(-7, entries);
  ASSERT_EQ(full.size(), list.size() + 4);
  int32_t version = 0;
  ASSERT_TRUE(DecodeFullList(full, &version, &decoded, &why)) << why;
  EXPECT_EQ(version, -7);
  EXPECT_EQ(decoded, entries);
}

// publish refuses what the updater refuses, and bytes after the last entry besides, which
// the updater never looks at; each refusal says where the list is damaged.
TEST(FileListTest, StrictReadingSaysWhyItRefuses) {
  const std::vector<uint8_t> one = testsupport::FileListBytes({testsupport::EntryOf({u"a.txt", "abc"})});
  const std::vector<uint8_t> two =
      testsupport::FileListBytes({testsupport::EntryOf({u"a.txt", "abc"}), testsupport::EntryOf({u"bb", "x"})});
  std::vector<uint8_t> negativeLength = two;
  negativeLength[4 + 26 + 2 * 5 + 1] = 0xFF;
  std::vector<uint8_t> hugeCount = one;
  hugeCount[3] = 0xFF;
  std::vector<uint8_t> trailing = one;
  trailing.insert(trailing.end(), {0, 0, 0});
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string why;
    bool updaterReads;
  } cases[] = {
      {"no count", {1, 0, 0}, "shorter than its 4-byte count", false},
      {"count beyond the bytes", hugeCount, "count 4278190081 does not fit in 40 bytes", false},
      {"first entry cut short", std::vector<uint8_t>(one.begin(), one.end() - 1), "entry 0 runs past the end", false},
      {"second entry cut short", std::vector<uint8_t>(two.begin(), two.end() - 1), "entry 1 runs past the end", false},
      {"negative name length", negativeLength, "entry 1 has a negative name length", false},
      {"bytes after the last entry", trailing, "3 bytes after the last entry", true},
  };
  ASSERT_EQ(one.size(), 40u);
  for (const auto& c : cases) {
    std::vector<ListEntry> entries;
    std::string why;
    EXPECT_FALSE(DecodeList(c.bytes.data(), c.bytes.size(), &entries, &why)) << c.what;
    EXPECT_EQ(why, c.why) << c.what;
    FileTable table;
    Counters counters;
    EXPECT_EQ(ReadFileList(c.bytes.data(), c.bytes.size(), &table, counters.progress()), c.updaterReads) << c.what;
  }
  const std::vector<uint8_t> shortFull = {1, 2, 3};
  int32_t version = 0;
  std::vector<ListEntry> entries;
  std::string why;
  EXPECT_FALSE(DecodeFullList(shortFull, &version, &entries, &why));
  EXPECT_EQ(why, "shorter than its 4-byte version");
}

}  // namespace
