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
#include "tools/child_process.h"

namespace fs = std::filesystem;

namespace {

fs::path U8Path(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string U8String(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

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
      tree[std::string(relative.begin(), relative.end())] = ReadWholeFile(item.path());
    }
  return tree;
}

class PcktoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("pcktool_test_" + std::to_string(random()) + std::to_string(random()));
    work_ = root_ / "work";
    fs::create_directories(root_ / "scratch");
    fs::create_directories(work_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
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

  fs::path root_;
  fs::path work_;
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
  EXPECT_NE(missing.err.find("code 11 (file not found)"), std::string::npos) << missing.err;
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
  EXPECT_NE(packed.err.find("code 15"), std::string::npos) << packed.err;
  EXPECT_FALSE(fs::exists(work_ / "cfg.pck"));

  // An existing archive is never replaced.
  WriteFile("taken.pck", "not ours");
  const ChildResult refused = Pcktool({"pack", At("src"), At("taken"), "taken"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(ReadWholeFile(work_ / "taken.pck"), "not ours");
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
        std::string(1, static_cast<char>(ReadWholeFile(work_ / "cfg.pck")[checksumAt] ^ 0x55)));

  const ChildResult damaged = Pcktool({"verify", At("cfg")});
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_EQ(CountLines(damaged.err), 2u) << damaged.err;
  EXPECT_NE(damaged.err.find("cfg\\bad-header.txt: code 9 (decompression failed)\n"), std::string::npos) << damaged.err;
  EXPECT_NE(damaged.err.find("cfg\\bad-checksum.txt: code 9 (decompression failed)\n"), std::string::npos)
      << damaged.err;
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
    const std::string before = ReadWholeFile(work_ / "arc.pck");
    const std::string expected =
        "code " + std::to_string(static_cast<int>(damage.expected)) + " (" + PackageResultText(damage.expected) + ")";

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
      EXPECT_TRUE(ReadWholeFile(work_ / "arc.pck") == before) << command[0] << " changed the archive";
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
  EXPECT_EQ(ReadWholeFile(out / "cfg" / "ok.txt"), "fine");
  std::set<std::string> after = FilesUnder(work_);
  std::set<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::inserter(added, added.end()));
  EXPECT_EQ(added, (std::set<std::string>{U8String(out / "cfg"), U8String(out / "cfg" / "ok.txt")}));
}

}  // namespace
