// pcktool as an operator runs it: the real program on real files, one process per command.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive/tavrin_file_package.h"
#include "support/child_process.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/utf8_path.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;
using testsupport::RunChild;
using testsupport::TempFolder;

namespace fs = std::filesystem;

namespace {

using testsupport::U8Path;
using testsupport::U8String;

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
  return bytes;
}

std::string RepeatedText(const std::string& line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line + std::to_string(i) + "\n";
  return text;
}

// The stored length the archive must choose: zlib's default level when strictly shorter.
std::size_t ExpectedStoredLength(const std::string& contents) {
  uLongf packed = compressBound(static_cast<uLong>(contents.size()));
  std::vector<Bytef> buffer(packed);
  EXPECT_EQ(compress2(buffer.data(), &packed, reinterpret_cast<const Bytef*>(contents.data()),
                      static_cast<uLong>(contents.size()), Z_DEFAULT_COMPRESSION),
            Z_OK);
  return packed < contents.size() ? packed : contents.size();
}

// Every file under folder: relative path with "/" -> bytes.
std::map<std::string, std::string> ReadTree(const fs::path& folder) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(folder))
    if (item.is_regular_file()) {
      const std::u8string relative = item.path().lexically_relative(folder).generic_u8string();
      tree[std::string(relative.begin(), relative.end())] = ReadFileText(item.path());
    }
  return tree;
}

class PcktoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.made()) << "no temporary folder";
    fs::create_directories(root_ / "scratch");
    fs::create_directories(work_);
  }

  ChildResult Pcktool(const std::vector<std::string>& arguments) {
    ChildResult result = RunChild(PCKTOOL_PATH, arguments, root_ / "scratch");
    EXPECT_TRUE(result.started) << "cannot start " << PCKTOOL_PATH;
    return result;
  }

  // A path under the work folder, as pcktool gets it on its command line.
  std::string At(std::string_view relative) const { return U8String(work_ / U8Path(relative)); }

  void WriteFile(std::string_view relative, const std::string& bytes) const {
    const fs::path file = work_ / U8Path(relative);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  // Packs the files into work/<archive>.pck under the given archive name.
  void Pack(const std::map<std::string, std::string>& files, std::string_view archive, const std::string& name) {
    const std::string source = std::string(archive) + ".src";
    for (const auto& [path, bytes] : files) WriteFile(source + "/" + path, bytes);
    const ChildResult packed = Pcktool({"pack", At(source), At(archive), name});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
  }

  TempFolder folder_;
  const fs::path root_ = folder_.path();
  const fs::path work_ = root_ / "work";
};

std::size_t CountLines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(PcktoolTest, PackThenListShowsEveryFileSortedWithBothLengths) {
  const std::map<std::string, std::string> files = {
      {"b.txt", RepeatedText("compressible line ", 300)},
      {"A.bin", RandomBytes(4096, 1)},
      {"empty", ""},
      {"Тексты/числа.txt", RepeatedText("число ", 500)},
      {"中文/文件.txt", "你好"},
      {"sub/deeper/z.dat", RandomBytes(70000, 2) + std::string(70000, 'z')},
  };
  Pack(files, "cfg", "cfg");

  std::vector<std::string> expected;
  for (const auto& [path, bytes] : files) {
    std::string name = "cfg\\" + path;
    std::replace(name.begin(), name.end(), '/', '\\');
    expected.push_back(name + "\t" + std::to_string(bytes.size()) + "\t" + std::to_string(ExpectedStoredLength(bytes)));
  }
  std::sort(expected.begin(), expected.end());
  std::string expectedText;
  for (const std::string& line : expected) expectedText += line + "\n";

  // With and without the extension.
  for (const std::string& archive : {At("cfg"), At("cfg.pck")}) {
    const ChildResult listed = Pcktool({"list", archive});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, expectedText);
    EXPECT_EQ(listed.err, "");
  }
}

TEST_F(PcktoolTest, CatWritesTheEntryByteForByte) {
  std::string everyByte;
  for (int round = 0; round < 4; ++round)
    for (int value = 0; value < 256; ++value) everyByte.push_back(static_cast<char>(value));
  everyByte += "\r\n\n\x1a\r";
  const std::string large = RepeatedText("line\r\n", 40000);
  Pack({{"Bin/all.bin", everyByte}, {"large.txt", large}, {"empty", ""}}, "cfg", "cfg");

  struct Case {
    std::string fullName;
    std::string expected;
  };
  const Case cases[] = {
      {"cfg\\Bin\\all.bin", everyByte},
      {"CFG/bin/ALL.BIN", everyByte},  // "/" and other letter case name the same entry
      {"cfg\\large.txt", large},
      {"cfg\\empty", ""},
  };
  for (const Case& c : cases) {
    const ChildResult shown = Pcktool({"cat", At("cfg"), c.fullName});
    EXPECT_EQ(shown.exitCode, 0) << c.fullName << ": " << shown.err;
    EXPECT_TRUE(shown.out == c.expected) << c.fullName << ": " << shown.out.size() << " bytes instead of "
                                         << c.expected.size();
  }

  const ChildResult missing = Pcktool({"cat", At("cfg"), "cfg\\nothing"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("cfg\\nothing in " + At("cfg.pck") + ": file not found"), std::string::npos)
      << missing.err;
  EXPECT_EQ(missing.err.find("code"), std::string::npos) << "results are told in words: " << missing.err;
}

TEST_F(PcktoolTest, ExtractGivesBackWhatWasPacked) {
  const std::map<std::string, std::string> files = {
      {"readme.txt", "read me\n"},
      {"empty.dat", ""},
      {"модели/корабль.mdl", RepeatedText("вершина ", 2000)},
      {"纹理/石头/表面.dds", RandomBytes(30000, 3)},
      {"a/b/c/d/deep.bin", RandomBytes(100, 4)},
  };
  Pack(files, "script", "help\\script");

  const ChildResult extracted = Pcktool({"extract", At("script.pck"), At("out")});
  ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
  EXPECT_EQ(extracted.err, "");
  // Each entry lands at out\<full name>, the archive's own name included.
  std::map<std::string, std::string> expected;
  for (const auto& [path, bytes] : files) expected["help/script/" + path] = bytes;
  EXPECT_EQ(ReadTree(work_ / "out"), expected);
}

TEST_F(PcktoolTest, AddAndRemoveAreCommitted) {
  Pack({{"a.txt", "first"}}, "cfg", "cfg");
  WriteFile("new.txt", RepeatedText("новый ", 100));
  WriteFile("longer.txt", "second, longer than the first");

  struct Step {
    std::vector<std::string> command;
    int exitCode;
  };
  const Step steps[] = {
      {{"add", At("cfg"), "cfg\\новая\\Файл.txt", At("new.txt")}, 0},
      {{"add", At("cfg"), "CFG/A.TXT", At("longer.txt")}, 0},  // replaces cfg\a.txt
      {{"add", At("cfg"), "cfg\\other\\x.txt", At("missing.txt")}, 1},
      {{"add", At("cfg"), "noseparator", At("new.txt")}, 1},
      // Names extract would refuse are not stored either.
      {{"add", At("cfg"), "cfg\\..\\up.txt", At("new.txt")}, 1},
      {{"add", At("cfg"), "cfg\\con.txt", At("new.txt")}, 1},
      {{"add", At("cfg"), "cfg\\a:stream", At("new.txt")}, 1},
      {{"add", At("cfg"), "cfg\\trailing.", At("new.txt")}, 1},
      {{"rm", At("cfg"), "cfg\\nothing"}, 1},
  };
  for (const Step& step : steps) {
    const ChildResult result = Pcktool(step.command);
    EXPECT_EQ(result.exitCode, step.exitCode) << step.command[0] << " " << step.command[2] << ": " << result.err;
    EXPECT_EQ(result.err.empty(), step.exitCode == 0) << result.err;
  }

  // Every check below is a new process: the changes were committed, not just held in memory.
  const std::string newBytes = RepeatedText("новый ", 100);
  EXPECT_EQ(Pcktool({"cat", At("cfg"), "cfg\\новая\\Файл.txt"}).out, newBytes);
  EXPECT_EQ(Pcktool({"cat", At("cfg"), "cfg\\a.txt"}).out, "second, longer than the first");
  EXPECT_EQ(Pcktool({"list", At("cfg")}).out, "cfg\\a.txt\t29\t29\ncfg\\новая\\Файл.txt\t" +
                                                  std::to_string(newBytes.size()) + "\t" +
                                                  std::to_string(ExpectedStoredLength(newBytes)) + "\n");

  // rm takes any letter case of A-Z, like every lookup.
  const ChildResult removed = Pcktool({"rm", At("cfg.pck"), "CFG\\новая\\Файл.TXT"});
  EXPECT_EQ(removed.exitCode, 0) << removed.err;
  EXPECT_EQ(Pcktool({"list", At("cfg")}).out, "cfg\\a.txt\t29\t29\n");
  EXPECT_EQ(Pcktool({"cat", At("cfg"), "cfg\\новая\\Файл.txt"}).exitCode, 1);
  EXPECT_EQ(Pcktool({"verify", At("cfg")}).exitCode, 0);
}

TEST_F(PcktoolTest, PackThatCannotStoreAFileLeavesNoArchive) {
  // Code page 936 has no form for the emoji, so the name cannot be stored as it is.
  WriteFile("src/fine.txt", "fine");
  WriteFile("src/\xF0\x9F\x98\x80.txt", "no code page 936 name");
  const ChildResult packed = Pcktool({"pack", At("src"), At("cfg"), "cfg"});
  EXPECT_EQ(packed.exitCode, 1);
  EXPECT_NE(packed.err.find("the name cannot be stored"), std::string::npos) << packed.err;
  EXPECT_FALSE(fs::exists(work_ / "cfg.pck"));

  // An existing archive is never replaced.
  WriteFile("taken.pck", "not ours");
  const ChildResult refused = Pcktool({"pack", At("src"), At("taken"), "taken"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(ReadFileText(work_ / "taken.pck"), "not ours");
}

// Overwrites bytes of the archive file in place.
void Patch(const fs::path& file, uint64_t at, const std::string& bytes) {
  std::fstream stream(file, std::ios::binary | std::ios::in | std::ios::out);
  stream.seekp(static_cast<std::streamoff>(at));
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(stream.good());
}

TEST_F(PcktoolTest, VerifyReportsEachDamagedEntryOnItsOwnLine) {
  Pack({{"good.txt", RepeatedText("good ", 500)},
        {"raw.bin", RandomBytes(3000, 5)},
        {"bad-header.txt", RepeatedText("header ", 500)},
        {"bad-checksum.txt", RepeatedText("checksum ", 500)}},
       "cfg", "cfg");

  const ChildResult healthy = Pcktool({"verify", At("cfg")});
  EXPECT_EQ(healthy.exitCode, 0) << healthy.err;
  EXPECT_EQ(healthy.err, "");
  EXPECT_NE(healthy.out.find("4 entries, 0 damaged"), std::string::npos) << healthy.out;

  // Damage two zlib streams: one at its header, one at its closing checksum.
  uint64_t headerAt = 0;
  uint64_t checksumAt = 0;
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Open((work_ / "cfg").u16string(), u"cfg"), PackageResult::kOk);
    const auto* header = archive.FindEntry(u"cfg\\bad-header.txt", false);
    const auto* checksum = archive.FindEntry(u"cfg\\bad-checksum.txt", false);
    ASSERT_TRUE(header != nullptr && checksum != nullptr);
    ASSERT_LT(header->storedLength, header->uncompressedLength);
    ASSERT_LT(checksum->storedLength, checksum->uncompressedLength);
    headerAt = header->dataPosition;
    checksumAt = checksum->dataPosition + checksum->storedLength - 1;
  }
  Patch(work_ / "cfg.pck", headerAt, "\xFF\xFF");
  Patch(work_ / "cfg.pck", checksumAt,
        std::string(1, static_cast<char>(ReadFileText(work_ / "cfg.pck")[checksumAt] ^ 0x55)));

  const ChildResult damaged = Pcktool({"verify", At("cfg")});
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_EQ(CountLines(damaged.err), 2u) << damaged.err;
  EXPECT_NE(damaged.err.find("cfg\\bad-header.txt: decompression failed\n"), std::string::npos) << damaged.err;
  EXPECT_NE(damaged.err.find("cfg\\bad-checksum.txt: decompression failed\n"), std::string::npos) << damaged.err;
  EXPECT_NE(damaged.out.find("4 entries, 2 damaged"), std::string::npos) << damaged.out;
}

TEST_F(PcktoolTest, ArchiveThatCannotBeOpenedIsReportedAndLeftAsItIs) {
  struct Damage {
    const char* what;
    PackageResult expected;
    void (*apply)(const fs::path& pck);
  };
  const Damage damages[] = {
      {"missing", PackageResult::kCannotOpen, [](const fs::path& pck) { fs::remove(pck); }},
      {"header magic", PackageResult::kHeaderMagicMismatch, [](const fs::path& pck) { Patch(pck, 0, "XXXX"); }},
      {"format word", PackageResult::kUnknownFormat,
       [](const fs::path& pck) { Patch(pck, fs::file_size(pck) - 4, std::string("\x01\x02\x03\x04", 4)); }},
      {"tail magic", PackageResult::kTailMagicMismatch,
       [](const fs::path& pck) { Patch(pck, fs::file_size(pck) - 24, "XXXX"); }},
      {"shorter than a header", PackageResult::kSeekFailed, [](const fs::path& pck) { fs::resize_file(pck, 6); }},
  };
  WriteFile("file.txt", "contents");
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    fs::remove_all(work_ / "arc.src");
    fs::remove(work_ / "arc.pck");
    Pack({{"a.txt", "a"}, {"b.txt", "b"}}, "arc", "arc");
    damage.apply(work_ / "arc.pck");
    const bool existed = fs::exists(work_ / "arc.pck");
    const std::string before = ReadFileText(work_ / "arc.pck");
    // In words: a missing archive is "no such file", not "code 14".
    const std::string expected = damage.expected == PackageResult::kCannotOpen
                                     ? std::string("arc.pck: no such file")
                                     : std::string("arc.pck: ") + PackageResultText(damage.expected);

    const std::vector<std::vector<std::string>> commands = {
        {"list", At("arc")},
        {"verify", At("arc")},
        {"cat", At("arc"), "arc\\a.txt"},
        {"extract", At("arc"), At("out")},
        {"add", At("arc"), "arc\\c.txt", At("file.txt")},
        {"rm", At("arc"), "arc\\a.txt"},
    };
    for (const auto& command : commands) {
      const ChildResult result = Pcktool(command);
      EXPECT_EQ(result.exitCode, 1) << command[0];
      EXPECT_NE(result.err.find("cannot open archive"), std::string::npos) << command[0] << ": " << result.err;
      EXPECT_NE(result.err.find(expected), std::string::npos) << command[0] << ": " << result.err;
      EXPECT_EQ(fs::exists(work_ / "arc.pck"), existed) << command[0];
      EXPECT_TRUE(ReadFileText(work_ / "arc.pck") == before) << command[0] << " changed the archive";
      EXPECT_FALSE(fs::exists(work_ / "arc.pkx")) << command[0];
    }
  }
}

TEST_F(PcktoolTest, BadUsageExitsWithTwoAndShowsUsage) {
  const std::vector<std::vector<std::string>> misuses = {
      {},         {"frobnicate"},   {"list"},           {"list", "a", "b"}, {"cat", "a"},
      {"verify"}, {"extract", "a"}, {"pack", "a", "b"}, {"add", "a", "b"},  {"rm", "a", "b", "c"},
  };
  for (const auto& arguments : misuses) {
    const ChildResult result = Pcktool(arguments);
    const std::string shown = arguments.empty() ? "(none)" : arguments[0];
    EXPECT_EQ(result.exitCode, 2) << shown;
    EXPECT_EQ(result.err.rfind("pcktool: ", 0), 0u) << shown << ": " << result.err;
    EXPECT_NE(result.err.find("usage: pcktool"), std::string::npos) << shown;
    EXPECT_EQ(result.out, "") << shown;
  }
  for (const std::string help : {"--help", "-h"}) {
    const ChildResult result = Pcktool({help});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("usage: pcktool"), std::string::npos);
    EXPECT_EQ(result.err, "");
  }
}

std::set<std::string> FilesUnder(const fs::path& folder) {
  std::set<std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(folder)) files.insert(U8String(item.path()));
  return files;
}

TEST_F(PcktoolTest, ExtractRefusesNamesThatLeaveTheFolder) {
  const std::u16string hostile[] = {
      u"cfg\\..\\..\\escaped1.txt",        // climbs out through "..\"
      u"..\\escaped2.txt",                 // starts above the folder
      u"\\escaped3.txt",                   // absolute
      u"\\\\server\\share\\escaped4.txt",  // UNC
      u"C:\\escaped5.txt",                 // drive
      u"C:escaped6.txt",                   // drive-relative
      u"cfg\\.. \\escaped7.txt",           // Windows drops the trailing space: ".."
      u"cfg\\.\\escaped8.txt",             // "." component
      u"cfg\\\\escaped9.txt",              // empty component
      u"cfg\\escaped10.txt:stream",        // alternate data stream
      u"cfg\\two\nlines.txt",              // would also split the report into two lines
  };
  {
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create((work_ / "cfg").u16string(), u"cfg"), PackageResult::kOk);
    ASSERT_EQ(archive.SetFileCompressedData(u"cfg\\ok.txt", "fine", 4, 4), PackageResult::kOk);
    for (const std::u16string& name : hostile)
      ASSERT_EQ(archive.SetFileCompressedData(name, "evil", 4, 4), PackageResult::kOk);
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
    archive.clearIndexChanged();
  }
  const fs::path out = work_ / "deep" / "er" / "out";
  fs::create_directories(out);
  const std::set<std::string> before = FilesUnder(work_);

  const ChildResult result = Pcktool({"extract", At("cfg"), U8String(out)});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(CountLines(result.err), std::size(hostile)) << result.err;
  for (const std::u16string& name : hostile) {
    std::string shown(name.begin(), name.end());  // ASCII only
    std::replace(shown.begin(), shown.end(), '\n', '?');
    EXPECT_NE(result.err.find("refused entry " + shown), std::string::npos) << shown << " not reported in:\n"
                                                                            << result.err;
    // Where the name would have led if it were honoured.
    std::u16string slashed = name;
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    EXPECT_FALSE(fs::exists((out / fs::path(slashed)).lexically_normal())) << shown;
  }
  EXPECT_EQ(ReadFileText(out / "cfg" / "ok.txt"), "fine");
  std::set<std::string> after = FilesUnder(work_);
  std::set<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::inserter(added, added.end()));
  EXPECT_EQ(added, (std::set<std::string>{U8String(out / "cfg"), U8String(out / "cfg" / "ok.txt")}));
}

}  // namespace

namespace {

// Reading commands leave every byte as it was, an uncommitted tail included, and say it
// is there; repair and the writing commands cut it.
TEST_F(PcktoolTest, ReadingNeverChangesTheArchive) {
  Pack({{"a.txt", RepeatedText("a ", 100)}, {"b.txt", "b"}}, "cfg", "cfg");
  const uint64_t committed = fs::file_size(work_ / "cfg.pck");
  // What a writer killed after storing data but before its commit leaves.
  std::ofstream(work_ / "cfg.pck", std::ios::binary | std::ios::app) << RandomBytes(777, 9);
  const std::string before = ReadFileText(work_ / "cfg.pck");
  const std::vector<std::vector<std::string>> reads = {
      {"list", At("cfg")},
      {"cat", At("cfg"), "cfg\\b.txt"},
      {"verify", At("cfg.pck")},
      {"extract", At("cfg"), At("out")},
      {"extract", At("cfg"), At("out2"), "cfg\\a.txt"},
  };
  for (const auto& command : reads) {
    const ChildResult result = Pcktool(command);
    EXPECT_EQ(result.exitCode, 0) << command[0] << ": " << result.err;
    EXPECT_NE(result.err.find("cfg.pck: 777 bytes after the last commit: an interrupted write (left as it is"),
              std::string::npos)
        << command[0] << ": " << result.err;
    EXPECT_TRUE(ReadFileText(work_ / "cfg.pck") == before) << command[0] << " changed the archive";
  }
  EXPECT_EQ(Pcktool({"cat", At("cfg"), "cfg\\b.txt"}).out, "b");

  const ChildResult repaired = Pcktool({"repair", At("cfg")});
  EXPECT_EQ(repaired.exitCode, 0) << repaired.err;
  EXPECT_NE(repaired.out.find("cut 777 bytes after the last commit"), std::string::npos) << repaired.out;
  EXPECT_EQ(fs::file_size(work_ / "cfg.pck"), committed);
  const ChildResult again = Pcktool({"repair", At("cfg")});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_NE(again.out.find("nothing to repair"), std::string::npos) << again.out;
  EXPECT_EQ(fs::file_size(work_ / "cfg.pck"), committed);

  // A change cuts the tail first, and says so.
  std::ofstream(work_ / "cfg.pck", std::ios::binary | std::ios::app) << RandomBytes(55, 10);
  WriteFile("c.txt", "c");
  const ChildResult added = Pcktool({"add", At("cfg"), "cfg\\c.txt", At("c.txt")});
  EXPECT_EQ(added.exitCode, 0) << added.err;
  EXPECT_NE(added.err.find("55 bytes after the last commit: an interrupted write, cut away"), std::string::npos)
      << added.err;
  const ChildResult listed = Pcktool({"list", At("cfg")});
  EXPECT_EQ(listed.err, "") << "the change committed with no tail left";
  EXPECT_EQ(CountLines(listed.out), 3u) << listed.out;
}

// An ARCHIVE is NAME.pck, NAME.pkx or NAME: a path with another extension is some other
// file, never "readme.txt.pck".
TEST_F(PcktoolTest, ArchiveNamesAreNotExtendedAgain) {
  Pack({{"a.txt", "a"}}, "cfg", "cfg");
  WriteFile("readme.txt", "just a text");
  WriteFile("src/x.txt", "x");
  for (const std::string& archive : {At("cfg"), At("cfg.pck"), At("cfg.PCK"), At("cfg.pkx")}) {
    const ChildResult listed = Pcktool({"list", archive});
    EXPECT_EQ(listed.exitCode, 0) << archive << ": " << listed.err;
    EXPECT_EQ(listed.out, "cfg\\a.txt\t1\t1\n") << archive;
  }
  const std::vector<std::vector<std::string>> refused = {
      {"list", At("readme.txt")},
      {"verify", At("readme.txt")},
      {"extract", At("readme.txt"), At("out")},
      {"repair", At("readme.txt")},
      {"pack", At("src"), At("readme.txt"), "configs"},
      {"add", At("readme.txt"), "cfg\\x.txt", At("src/x.txt")},
  };
  for (const auto& command : refused) {
    const ChildResult result = Pcktool(command);
    EXPECT_EQ(result.exitCode, 2) << command[0];
    EXPECT_NE(result.err.find("readme.txt: not an archive name"), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(work_ / "readme.txt.pck"));
  EXPECT_EQ(ReadFileText(work_ / "readme.txt"), "just a text");
}

// pack says when the updater would never read what it packs.
TEST_F(PcktoolTest, PackWarnsAboutNamesTheUpdaterCannotPlace) {
  WriteFile("src/a.txt", "a");
  struct Case {
    std::string archive;
    std::string name;
    std::string warning;  // empty: none
  };
  const Case cases[] = {
      {"configs", "configs", ""},
      {"help/script", "help\\script", ""},
      {"mine", "mine", "NAME mine is not one of the updater's archive names (help\\script, building, configs,"},
      // In a folder of its own: on a Windows disk Configs.pck is configs.pck.
      {"upper/Configs", "Configs", "NAME Configs is not one of the updater's archive names"},
      {"other", "models",
       "the archive named models is written to " + At("other.pck") + ": the updater looks for it in models.pck"},
  };
  for (const Case& c : cases) {
    fs::create_directories((work_ / U8Path(c.archive)).parent_path());
    const ChildResult packed = Pcktool({"pack", At("src"), At(c.archive), c.name});
    EXPECT_EQ(packed.exitCode, 0) << c.name << ": " << packed.err;
    if (c.warning.empty()) {
      EXPECT_EQ(packed.err, "") << c.name;
    } else {
      EXPECT_NE(packed.err.find("pcktool: warning: " + c.warning), std::string::npos) << packed.err;
    }
    EXPECT_TRUE(fs::exists(work_ / U8Path(c.archive + ".pck"))) << c.name;
  }
}

// extract takes the entries to write, and --no-overwrite keeps what is there.
TEST_F(PcktoolTest, ExtractChosenEntriesAndKeepWhatIsThere) {
  Pack({{"a.txt", "a"}, {"Sub/B.txt", "b"}, {"c.txt", "c"}}, "cfg", "cfg");
  const ChildResult chosen = Pcktool({"extract", At("cfg"), At("out"), "cfg\\a.txt", "CFG/sub/b.TXT", "cfg\\a.txt"});
  EXPECT_EQ(chosen.exitCode, 0) << chosen.err;
  EXPECT_EQ(ReadTree(work_ / "out"), (std::map<std::string, std::string>{{"cfg/a.txt", "a"}, {"cfg/Sub/B.txt", "b"}}));
  EXPECT_NE(chosen.out.find("2 of 2 entries extracted"), std::string::npos) << chosen.out;

  const ChildResult missing = Pcktool({"extract", At("cfg"), At("some"), "cfg\\c.txt", "cfg\\none.txt"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("cfg\\none.txt: no such entry"), std::string::npos) << missing.err;
  EXPECT_EQ(ReadTree(work_ / "some"), (std::map<std::string, std::string>{{"cfg/c.txt", "c"}}));

  WriteFile("out/cfg/a.txt", "mine");
  const ChildResult kept = Pcktool({"extract", "--no-overwrite", At("cfg"), At("out")});
  EXPECT_EQ(kept.exitCode, 0) << kept.err;
  // a.txt and Sub/B.txt are there from before: counted in the summary, not a line each.
  EXPECT_EQ(kept.err, "");
  EXPECT_NE(kept.out.find("1 of 3 entries extracted, 2 kept"), std::string::npos) << kept.out;
  EXPECT_EQ(std::count(kept.out.begin(), kept.out.end(), '\n'), 1) << kept.out;
  EXPECT_EQ(ReadFileText(work_ / "out" / "cfg" / "a.txt"), "mine");
  EXPECT_EQ(ReadFileText(work_ / "out" / "cfg" / "c.txt"), "c");
  const ChildResult replaced = Pcktool({"extract", At("cfg"), At("out")});
  EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
  EXPECT_EQ(ReadFileText(work_ / "out" / "cfg" / "a.txt"), "a");
}

// --version, options anywhere, "--", a short usage line for a usage error and code 2.
TEST_F(PcktoolTest, CommandLineFollowsGnuConventions) {
  const ChildResult version = Pcktool({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("pcktool (Solmere Classic Updater) ", 0), 0u) << version.out;

  struct Misuse {
    std::vector<std::string> arguments;
    std::string message;
    std::string usage;
  };
  const Misuse misuses[] = {
      {{"list"}, "list takes 1 argument(s), got 0", "usage: pcktool list ARCHIVE"},
      {{"extract", "a"},
       "extract takes 2 or more arguments, got 1",
       "usage: pcktool extract ARCHIVE DIR [FULLNAME...]"},
      {{"list", "a", "--no-overwrite"}, "--no-overwrite is an option of extract", "usage: pcktool list ARCHIVE"},
      {{"extract", "a", "b", "--no-overwrite=yes"}, "option --no-overwrite takes no value", "usage: pcktool list|cat"},
      {{"list", "a", "--frobnicate"}, "unknown option --frobnicate", "usage: pcktool list|cat"},
      {{"frobnicate"}, "unknown command frobnicate", "usage: pcktool list|cat"},
  };
  for (const Misuse& misuse : misuses) {
    const ChildResult result = Pcktool(misuse.arguments);
    EXPECT_EQ(result.exitCode, 2) << misuse.message;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("pcktool: " + misuse.message, 0), 0u) << result.err;
    EXPECT_NE(result.err.find(misuse.usage), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Try \"pcktool --help\""), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("Exit codes"), std::string::npos) << "the whole help on a usage error";
  }
  // After "--" an argument that starts with "-" is a name.
  Pack({{"a.txt", "a"}}, "cfg", "cfg");
  const fs::path working = fs::current_path();
  fs::current_path(work_);
  const ChildResult dashed = Pcktool({"extract", "cfg.pck", "--", "-out"});
  fs::current_path(working);
  EXPECT_EQ(dashed.exitCode, 0) << dashed.err;
  EXPECT_EQ(ReadFileText(work_ / "-out" / "cfg" / "a.txt"), "a");
}

}  // namespace
