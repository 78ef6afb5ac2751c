// publish release and verify, run as an operator runs them, checked with the tests' own
// readers of the list and package formats.

#include <algorithm>
#include <functional>
#include <optional>
#include <set>

#include "formats/chunk_index.h"
#include "publish_fixture.h"
#include "support/child_process.h"
#include "support/file_bytes.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;

namespace publish_test {
namespace {

constexpr uint32_t kDeleted = 0xFFFFFFFF;

class PublishRelease : public PublishFixture {
 protected:
  // Applies list or package entries to a client image the way the updater does, taking
  // each file's bytes from `storedOf`.
  template <typename StoredOf>
  void Apply(const std::vector<Listed>& entries, StoredOf storedOf, ClientImage* image) {
    for (const Listed& entry : entries) {
      if (entry.size == kDeleted) {
        // The updater removes archive entries by the name as given, lower-case keys only.
        bool inArchive = false;
        for (std::u16string_view archiveName : kArchiveNames)
          inArchive = inArchive || entry.name.compare(0, archiveName.size(), archiveName) == 0;
        if (inArchive) {
          EXPECT_EQ(entry.name, Lowered(entry.name)) << platform::Utf8FromUtf16(entry.name);
        }
        image->files.erase(Lowered(entry.name));
        continue;
      }
      const std::string contents = Contents(storedOf(entry), entry.size);
      EXPECT_EQ(Md5(contents), entry.digest) << platform::Utf8FromUtf16(entry.name);
      image->files[Lowered(entry.name)] = {entry.name, contents};
    }
  }

  void ApplyList(const std::string& server, const std::string& list, ClientImage* image) {
    Apply(
        ParseList(ReadFileText(PathOf(server + "/" + list)), 0),
        [&](const Listed& entry) { return Resource(server, u"files\\" + entry.name); }, image);
  }

  void ApplyPackage(const std::string& packagePath, int32_t from, int32_t to, ClientImage* image) {
    const std::string bytes = ReadFileText(PathOf(packagePath));
    const Package package = ParsePackage(bytes);
    EXPECT_EQ(package.minimumVersion, from);
    EXPECT_EQ(package.targetVersion, to);
    Apply(
        package.records, [&](const Listed& record) { return bytes.substr(record.dataOffset, record.storedSize); },
        image);
  }

  static void ExpectSameClient(const ClientImage& actual, const ClientImage& expected) {
    ASSERT_EQ(actual.files.size(), expected.files.size());
    for (const auto& [identity, file] : expected.files) {
      const auto found = actual.files.find(identity);
      ASSERT_NE(found, actual.files.end()) << platform::Utf8FromUtf16(file.first);
      EXPECT_TRUE(found->second.second == file.second) << platform::Utf8FromUtf16(file.first);
    }
  }
};

TEST_F(PublishRelease, ThreeSampleReleasesBringEveryOlderClientToTheLatest) {
  for (const char* version : {"1", "2", "3"})
    PublishOk({"sample", At(std::string("c") + version), version, "--files", "300", "--size-mb", "8"});
  const std::string url = "http://127.0.0.1/patches";
  PublishOk({"release", At("srv"), At("c1/velkar"), "1", "--patcher-version", "7"});
  PublishOk({"release", At("srv"), At("c2/velkar"), "2", "--package-from", "1", "--package-url-base", url});
  const ClientImage release1 = ReadClient(PathOf("c1/velkar"));
  const ClientImage release2 = ReadClient(PathOf("c2/velkar"));
  const ClientImage release3 = ReadClient(PathOf("c3/velkar"));
  ClientImage client = release1;
  ApplyPackage("srv/patches/1-2.cup", 1, 2, &client);
  ExpectSameClient(client, release2);

  PublishOk({"release", At("srv"), At("c3/velkar"), "3", "--package-from", "1", "--package-from=2",
             "--package-url-base", url + "/"});
  const ChildResult verified = Publish({"verify", At("srv")});
  EXPECT_EQ(verified.exitCode, 0) << verified.err;
  EXPECT_EQ(verified.err, "");
  EXPECT_EQ(ReadFileText(PathOf("srv/version")), "3");
  EXPECT_EQ(ReadFileText(PathOf("srv/patcher_version_new")), "7");

  // fulllist: version 3, then every file of release 3 with its stored form under files\.
  const std::string fullList = ReadFileText(PathOf("srv/fulllist"));
  EXPECT_EQ(U32At(fullList, 0), 3u);
  ClientImage fromFullList;
  Apply(
      ParseList(fullList, 4), [&](const Listed& entry) { return Resource("srv", u"files\\" + entry.name); },
      &fromFullList);
  ExpectSameClient(fromFullList, release3);

  // Change lists: a client N releases behind gets exactly to release 3, and no file it
  // already has is listed.
  client = release2;
  ApplyList("srv", "list_1", &client);
  ExpectSameClient(client, release3);
  client = release1;
  ApplyList("srv", "list_2", &client);
  ExpectSameClient(client, release3);
  for (const Listed& entry : ParseList(ReadFileText(PathOf("srv/list_1")), 0)) {
    const auto old = release2.files.find(Lowered(entry.name));
    if (entry.size != kDeleted && old != release2.files.end()) {
      EXPECT_NE(Md5(old->second.second), entry.digest);
    }
  }
  EXPECT_FALSE(fs::exists(PathOf("srv/list_3")));

  // Packages and their list. A client at 1 now takes 1-3, so no client would be given 1-2
  // any more: its line and its package are gone.
  EXPECT_EQ(ReadFileText(PathOf("srv/patches/list")), "1 3 " + url + "/1-3.cup\n2 3 " + url + "/2-3.cup\n");
  EXPECT_FALSE(fs::exists(PathOf("srv/patches/1-2.cup")));
  client = release1;
  ApplyPackage("srv/patches/1-3.cup", 1, 3, &client);
  ExpectSameClient(client, release3);
  client = release2;
  ApplyPackage("srv/patches/2-3.cup", 2, 3, &client);
  ExpectSameClient(client, release3);

  // Files that release 3 no longer has are gone from files\.
  for (const auto& [identity, file] : release2.files)
    if (release3.files.count(identity) == 0) {
      EXPECT_EQ(Resource("srv", u"files\\" + file.first), "") << platform::Utf8FromUtf16(file.first);
    }
}

// One small release pair, every byte of list_1 and of the package checked against the layout.
TEST_F(PublishRelease, ListAndPackageBytesFollowTheirLayouts) {
  const std::string text(300, 'a');  // compresses
  MakeClient(PathOf("r1"), {{u"configs\\a.txt", "old"}, {u"models\\B.ski", "bbb"}, {u"readme.txt", "read me"}});
  MakeClient(PathOf("r2"), {{u"configs\\a.txt", text}, {u"\u0434\u043e\u043c\\\u5730.txt", "xyz"}}, "2");
  PublishOk({"release", At("srv"), At("r1"), "1"});
  PublishOk({"release", At("srv"), At("r2"), "2", "--package-from", "1", "--package-url-base", "http://h/p"});

  uLongf packedSize = compressBound(300);
  std::string packed(packedSize, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(text.data()),
                      300, Z_DEFAULT_COMPRESSION),
            Z_OK);
  packed.resize(packedSize);
  EXPECT_EQ(Resource("srv", u"files\\configs\\a.txt"), packed);
  EXPECT_EQ(Resource("srv", u"files\\\u0434\u043e\u043c\\\u5730.txt"), "xyz");  // 3 bytes do not shrink

  auto u16 = [](std::u16string_view name) {
    std::string out;
    for (char16_t unit : name) out += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return out;
  };
  auto u32 = [](uint32_t value) {
    return std::string{static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 24)};
  };
  auto entry = [&](std::u16string_view name, const std::string& digest, uint32_t size, uint32_t stored) {
    return std::string{static_cast<char>(name.size()), '\0'} + u16(name) + digest + u32(size) + u32(stored);
  };
  // Added and changed files in name order, then deletions; an archive entry is deleted
  // under its lower-case key.
  const std::string expectedList = u32(4) +
                                   entry(u"configs\\a.txt", Md5(text), 300, static_cast<uint32_t>(packed.size())) +
                                   entry(u"\u0434\u043e\u043c\\\u5730.txt", Md5("xyz"), 3, 3) +
                                   entry(u"models\\b.ski", std::string(16, '\0'), kDeleted, 0) +
                                   entry(u"readme.txt", std::string(16, '\0'), kDeleted, 0);
  EXPECT_TRUE(ReadFileText(PathOf("srv/list_1")) == expectedList);

  // Package: header, stored bytes, index at the end.
  const std::string package = ReadFileText(PathOf("srv/patches/1-2.cup"));
  const std::size_t indexOffset = 12 + packed.size() + 3;
  std::string expectedPackage =
      u32(1) + u32(2) + u32(static_cast<uint32_t>(indexOffset) ^ 0x3E7A19C5u) + packed + "xyz" + u32(4 ^ 0x71D04B2Eu);
  auto record = [&](std::u16string_view name, const std::string& digest, uint32_t size, uint32_t stored,
                    uint32_t offset) {
    return std::string{static_cast<char>(name.size()), '\0'} + u16(name) + digest + u32(size ^ 0x2C95E3A8u) +
           u32(stored ^ 0x4F6B07D1u) + u32(offset ^ 0x19A8C65Bu);
  };
  expectedPackage += record(u"configs\\a.txt", Md5(text), 300, static_cast<uint32_t>(packed.size()), 12);
  expectedPackage +=
      record(u"\u0434\u043e\u043c\\\u5730.txt", Md5("xyz"), 3, 3, static_cast<uint32_t>(12 + packed.size()));
  expectedPackage += record(u"models\\b.ski", std::string(16, '\0'), kDeleted, 0, 0);
  expectedPackage += record(u"readme.txt", std::string(16, '\0'), kDeleted, 0, 0);
  EXPECT_TRUE(package == expectedPackage);
  EXPECT_EQ(ReadFileText(PathOf("srv/patches/list")), "1 2 http://h/p/1-2.cup\n");

  // fulllist: the version, then release 2's files by name; version.sw is the updater's own.
  const std::string expectedFull = u32(2) + u32(2) +
                                   entry(u"configs\\a.txt", Md5(text), 300, static_cast<uint32_t>(packed.size())) +
                                   entry(u"\u0434\u043e\u043c\\\u5730.txt", Md5("xyz"), 3, 3);
  EXPECT_TRUE(ReadFileText(PathOf("srv/fulllist")) == expectedFull);
  EXPECT_EQ(Resource("srv", u"files\\readme.txt"), "");
  EXPECT_EQ(Resource("srv", u"files\\models\\B.ski"), "");
}

TEST_F(PublishRelease, UnpublishedVersionsListFromTheNearestOlderRelease) {
  MakeClient(PathOf("r2"), {{u"configs\\a.txt", "two"}, {u"data\\x.bin", "x"}}, "2");
  MakeClient(PathOf("r5"), {{u"configs\\a.txt", "five"}, {u"data\\y.bin", "y"}}, "5");
  MakeClient(PathOf("r6"), {{u"configs\\a.txt", "six"}, {u"data\\y.bin", "y"}}, "6");
  PublishOk({"release", At("srv"), At("r2"), "2"});
  PublishOk({"release", At("srv"), At("r5"), "5"});
  PublishOk({"release", At("srv"), At("r6"), "6"});
  // Clients at 5 and at 2 get exact lists; at 3 and 4 that of release 2, a safe superset.
  const std::string since5 = ReadFileText(PathOf("srv/list_1"));
  const std::string since2 = ReadFileText(PathOf("srv/list_4"));
  EXPECT_EQ(ParseList(since5, 0).size(), 1u);
  EXPECT_EQ(ParseList(since2, 0).size(), 3u);  // a.txt, y.bin, deletion of x.bin
  EXPECT_EQ(ReadFileText(PathOf("srv/list_3")), since2);
  EXPECT_EQ(ReadFileText(PathOf("srv/list_2")), since2);
  EXPECT_FALSE(fs::exists(PathOf("srv/list_5")));
  EXPECT_EQ(Publish({"verify", At("srv")}).exitCode, 0);
}

TEST_F(PublishRelease, VerifyReportsEveryDamagedItemOnItsOwnLine) {
  MakeClient(PathOf("r1"), {{u"configs\\a.txt", std::string(500, 'q')}, {u"data\\b.bin", "bytes"}});
  MakeClient(PathOf("r2"),
             {{u"configs\\a.txt", std::string(600, 'r')}, {u"data\\b.bin", "bytes!"}, {u"data\\c.bin", "c"}}, "2");
  PublishOk({"release", At("srv"), At("r1"), "1"});
  PublishOk({"release", At("srv"), At("r2"), "2", "--package-from", "1", "--package-url-base", "http://h/p"});
  ASSERT_EQ(Publish({"verify", At("srv")}).exitCode, 0);

  // One flipped byte in a zlib stream, one stored file gone, one raw file with other bytes,
  // and a package cut short.
  std::string stored = Resource("srv", u"files\\configs\\a.txt");
  stored[stored.size() / 2] ^= 0x20;
  std::ofstream(PathOf("srv/files/configs/a.txt"), std::ios::binary) << stored;
  fs::remove(PathOf("srv/files/data/c.bin"));
  std::ofstream(PathOf("srv/files/data/b.bin"), std::ios::binary) << "bytes?";
  fs::resize_file(PathOf("srv/patches/1-2.cup"), 20);

  const ChildResult result = Publish({"verify", At("srv")});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("files\\configs\\a.txt"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("files\\data\\c.bin"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("files\\data\\b.bin: the contents do not have the listed MD5"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("package 1-2.cup"), std::string::npos) << result.err;
  // The package cut short no longer matches the release manifest either.
  EXPECT_NE(result.err.find("1-2.cup does not match release.manifest"), std::string::npos) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 5) << result.err;
}

// verify reads lists and packages as strictly as it can and says where one is damaged.
TEST_F(PublishRelease, VerifySaysWhereAListOrPackageIsDamaged) {
  MakeClient(PathOf("r1"), {{u"configs\\a.txt", std::string(500, 'q')}});
  MakeClient(PathOf("r2"), {{u"configs\\a.txt", std::string(600, 'r')}, {u"data\\b.bin", "bytes!"}}, "2");
  PublishOk({"release", At("srv"), At("r1"), "1"});
  PublishOk({"release", At("srv"), At("r2"), "2", "--package-from", "1", "--package-url-base", "http://h/p"});
  ASSERT_EQ(Publish({"verify", At("srv")}).exitCode, 0);

  const std::string package = ReadFileText(PathOf("srv/patches/1-2.cup"));
  const std::string list = ReadFileText(PathOf("srv/list_1"));
  const uint32_t index = U32At(package, 8) ^ 0x3E7A19C5u;
  ASSERT_EQ(ParsePackage(package).records.at(0).name, u"configs\\a.txt");
  const std::size_t firstFixed = index + 4 + 2 + 2 * 13;
  // The package with a little-endian number of `width` bytes written at `at`.
  const auto with = [](std::string bytes, std::size_t at, uint32_t value, std::size_t width = 4) {
    for (std::size_t i = 0; i < width; ++i) bytes.at(at + i) = static_cast<char>(value >> (8 * i));
    return bytes;
  };
  const struct {
    const char* file;
    std::string bytes;
    std::string line;
  } cases[] = {
      {"patches/1-2.cup", package.substr(0, 8), "package 1-2.cup: shorter than its 12-byte header"},
      {"patches/1-2.cup", with(package, 8, (index + 1000) ^ 0x3E7A19C5u),
       "package 1-2.cup: index offset " + std::to_string(index + 1000) + " is past the end"},
      {"patches/1-2.cup", with(package, index, 1000 ^ 0x71D04B2Eu),
       "package 1-2.cup: record count 1000 does not fit in the index"},
      {"patches/1-2.cup", with(package, index + 4, 260, 2),
       "package 1-2.cup: record 0: name length 260 outside 0 to 259"},
      {"patches/1-2.cup", package.substr(0, package.size() - 1), "package 1-2.cup: record 1: runs past the end"},
      {"patches/1-2.cup", with(package, firstFixed + 24, (1u << 30) ^ 0x19A8C65Bu),
       "package 1-2.cup: record 0: stored bytes lie past the end"},
      {"list_1", list + "abc", "list_1: 3 bytes after the last entry"},
      {"list_1", list.substr(0, list.size() - 1), "list_1: entry 1 runs past the end"},
  };
  for (const auto& c : cases) {
    const std::string original = ReadFileText(PathOf(std::string("srv/") + c.file));
    std::ofstream(PathOf(std::string("srv/") + c.file), std::ios::binary | std::ios::trunc) << c.bytes;
    const ChildResult result = Publish({"verify", At("srv")});
    EXPECT_EQ(result.exitCode, 1) << c.line;
    EXPECT_NE(result.err.find("publish: " + c.line + "\n"), std::string::npos) << result.err;
    std::ofstream(PathOf(std::string("srv/") + c.file), std::ios::binary | std::ios::trunc) << original;
  }
  EXPECT_EQ(Publish({"verify", At("srv")}).err, "") << "every damage was undone";
}

// What "patches\list" keeps across releases: every line some client could still be given,
// and nothing else; verify names a line that no client would ever be given.
TEST_F(PublishRelease, PatchListKeepsOnlyLinesAClientCanTake) {
  for (int version = 1; version <= 4; ++version) {
    // Built with += : gcc 12 warns falsely about "literal" + string.
    std::string name = "r";
    name += std::to_string(version);
    std::string content(100, 'a');
    content += std::to_string(version);
    MakeClient(PathOf(name), {{u"configs\\a.txt", content}}, std::to_string(version));
  }
  const std::string url = "http://h/p";
  PublishOk({"release", At("srv"), At("r1"), "1"});
  PublishOk({"release", At("srv"), At("r2"), "2", "--package-from", "1", "--package-url-base", url});
  // Without a package: a client at 1 still takes 1-2, then the change list to 3.
  PublishOk({"release", At("srv"), At("r3"), "3"});
  EXPECT_EQ(ReadFileText(PathOf("srv/patches/list")), "1 2 http://h/p/1-2.cup\n");
  EXPECT_EQ(Publish({"verify", At("srv")}).err, "");
  // 1-4 serves a client at 1 from now on; 2-4 and 3-4 those at 2 and 3.
  const ChildResult fourth = Publish(
      {"release", At("srv"), At("r4"), "4", "--package-from", "1", "--package-from", "3", "--package-url-base", url});
  ASSERT_EQ(fourth.exitCode, 0) << fourth.err;
  EXPECT_NE(fourth.out.find("dropped 1 2 http://h/p/1-2.cup"), std::string::npos) << fourth.out;
  EXPECT_EQ(ReadFileText(PathOf("srv/patches/list")), "1 4 http://h/p/1-4.cup\n3 4 http://h/p/3-4.cup\n");
  EXPECT_FALSE(fs::exists(PathOf("srv/patches/1-2.cup")));
  EXPECT_TRUE(fs::exists(PathOf("srv/patches/1-4.cup")));
  EXPECT_EQ(Publish({"verify", At("srv")}).err, "");

  // Lines written by hand that no client would be given: to no later version, and one
  // hidden by a longer line of the same from-version.
  std::ofstream(PathOf("srv/patches/list"), std::ios::binary)
      << "1 4 http://h/p/1-4.cup\n3 4 http://h/p/3-4.cup\n4 4 http://h/p/3-4.cup\n1 3 http://h/p/1-4.cup\n";
  const ChildResult result = Publish({"verify", At("srv")});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("no client would ever be given the line 4 4 http://h/p/3-4.cup (it leads to no later"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("no client would ever be given the line 1 3 http://h/p/1-4.cup (another line serves"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("given the line 1 4"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("given the line 3 4"), std::string::npos) << result.err;
}

TEST_F(PublishRelease, BadRequestsAreRefusedAndPublishNothing) {
  MakeClient(PathOf("good"), {{u"configs\\a.txt", "a"}});
  fs::create_directories(PathOf("empty"));
  PublishOk({"release", At("srv"), At("good"), "2"});
  const std::string url = "http://h/p";
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {{}, 2, "no command given"},
      {{"launch"}, 2, "unknown command launch"},
      {{"release", At("srv"), At("good")}, 2, "release takes SERVER_DIR CLIENT_DIR VERSION"},
      {{"release", At("srv"), At("good"), "x3"}, 2, "VERSION: x3 is not a number"},
      {{"release", At("srv"), At("good"), "0"}, 2, "VERSION"},
      {{"release", At("srv"), At("good"), "99999999999"}, 2, "VERSION"},
      {{"release", At("srv"), At("good"), "3", "--package-from", "2"}, 2, "needs --package-url-base"},
      {{"release", At("srv"), At("good"), "3", "--package-from", "3", "--package-url-base", url}, 2, "--package-from"},
      {{"release", At("srv"), At("good"), "3", "--package-from", "2", "--package-url-base", "ftp://h"}, 2, "http://"},
      {{"release", At("srv"), At("good"), "3", "--package-url-base"}, 2, "needs a value"},
      {{"release", At("srv"), At("good"), "3", "--force", "1"}, 2, "unknown option --force"},
      {{"release", At("srv"), At("good"), "3", "--jobs", "0"}, 2, "--jobs: 0 is not a number from 1 to 256"},
      {{"release", At("srv"), At("good"), "3", "--jobs", "two"}, 2, "--jobs: two is not a number"},
      {{"release", At("srv"), At("good"), "3", "--jobs", "2", "--jobs=2"}, 2, "--jobs given more than once"},
      {{"release", At("srv"), At("missing"), "3"}, 1, "is not a folder"},
      {{"release", At("srv"), At("empty"), "3"}, 1, "is missing"},
      {{"release", At("srv"), At("good"), "2"}, 1, "release 2 is published"},
      {{"release", At("srv"), At("good"), "4", "--package-from", "3", "--package-url-base", url},
       1,
       "that release is not in the tree"},
      {{"verify", At("missing")}, 1, "is not a folder"},
      {{"verify"}, 2, "verify takes SERVER_DIR"},
      {{"sample", At("s"), "1", "--files", "-1"}, 2, "--files"},
  };
  for (const Case& c : cases) {
    const ChildResult result = Publish(c.arguments);
    std::string shown;
    for (const std::string& argument : c.arguments) shown += argument + " ";
    EXPECT_EQ(result.exitCode, c.exitCode) << shown << "\n" << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << shown << "\n" << result.err;
  }
  EXPECT_EQ(ReadFileText(PathOf("srv/version")), "2");
  EXPECT_FALSE(fs::exists(PathOf("srv/manifests/3")));
  EXPECT_FALSE(fs::exists(PathOf("s")));

  // A damaged manifest stops the next release before anything is written.
  std::ofstream(PathOf("srv/manifests/2"), std::ios::binary) << "\x02\0\0\0\xff\xff";
  const ChildResult damaged = Publish({"release", At("srv"), At("good"), "3"});
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_NE(damaged.err.find("manifest"), std::string::npos) << damaged.err;
  EXPECT_EQ(ReadFileText(PathOf("srv/version")), "2");
}

// Files the updater would look for in the wrong place are refused, all of them, and the
// tree is not touched.
TEST_F(PublishRelease, FilesTheUpdaterCannotReachAreRefused) {
  std::map<std::u16string, std::string> files = {{u"configs\\a.txt", "a"},
                                                 {u"gfxdriver.dll", "plain file named like an archive"}};
#ifndef _WIN32
  // Two files here, one on a Windows client.
  files.insert({{u"data\\X.txt", "one"}, {u"data\\x.txt", "two"}});
#endif
  MakeClient(PathOf("client"), files);
  {
    // An entry of textures whose name says models: the updater would look in models.
    TavrinFilePackage textures;
    ASSERT_EQ(textures.Open(PathOf("client/textures").u16string(), u"textures"), PackageResult::kOk);
    ASSERT_EQ(textures.SetFileCompressedData(u"models\\stray.ski", "s", 1, 1), PackageResult::kOk);
    ASSERT_EQ(textures.Save(), PackageResult::kOk);
    textures.clearIndexChanged();
  }
  const ChildResult result = Publish({"release", At("srv"), At("client"), "1"});
  EXPECT_EQ(result.exitCode, 1);
  std::vector<std::string> messages = {"gfxdriver.dll: the updater would look for this file inside the archive gfx",
                                       "models\\stray.ski in ", "nothing published"};
#ifndef _WIN32
  messages.push_back("differs from it only in the case of A-Z");
#endif
  for (const std::string& message : messages)
    EXPECT_NE(result.err.find(message), std::string::npos) << message << "\n" << result.err;
  EXPECT_FALSE(fs::exists(PathOf("srv/version")));
  EXPECT_FALSE(fs::exists(PathOf("srv/files")));
}

}  // namespace
}  // namespace publish_test

namespace publish_test {
namespace {

// The chunk files below srv/chunks (not the indexes), by name.
std::set<std::string> ChunkFiles(const fs::path& server) {
  std::set<std::string> names;
  std::error_code error;
  if (!fs::exists(server / "chunks", error)) return names;
  for (const auto& item : fs::recursive_directory_iterator(server / "chunks"))
    if (item.is_regular_file() && item.path().parent_path().filename() != "index")
      names.insert(item.path().filename().string());
  return names;
}

std::string RandomBytes(std::size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 26);
  return bytes;
}

// The chunks of an index, by their file names.
std::set<std::string> ChunkNamesOf(const std::string& indexText) {
  std::set<std::string> names;
  const std::optional<ChunkIndex> index = ParseChunkIndex(indexText);
  EXPECT_TRUE(index) << "no chunk index";
  if (!index) return names;
  for (const IndexedChunk& chunk : index->chunks) {
    const std::string resource = ChunkResource(chunk.digest);
    names.insert(resource.substr(resource.rfind('\\') + 1));
  }
  return names;
}

// A file above 1 MiB gets its chunk index, named by its MD5, and its chunks' stored forms, named
// by their digests: together they give the file back. Chunks shared by files and releases are
// stored once; an edit adds only the chunks near it; a small file gets none.
TEST_F(PublishRelease, LargeFilesGetTheirChunksStoredOnce) {
  const std::string big = RandomBytes(3u << 20, 3);
  MakeClient(PathOf("r1"), {{u"data\\big.bin", big}, {u"models\\copy.ski", big}, {u"configs\\small.txt", "small"}},
             "1");
  PublishOk({"release", At("srv"), At("r1"), "1"});
  const auto indexOf = [this](const std::string& contents) {
    platform::Md5Digest md5{};
    EXPECT_TRUE(platform::ComputeMd5(contents.data(), contents.size(), &md5));
    return ReadFileText(Below(PathOf("srv"), platform::Utf16FromUtf8(ChunkIndexResource(md5))));
  };
  const std::optional<ChunkIndex> index = ParseChunkIndex(indexOf(big));
  ASSERT_TRUE(index) << "no index of big.bin";
  EXPECT_EQ(index->size, big.size());
  std::string joined;
  for (const IndexedChunk& chunk : index->chunks) {
    const std::string stored = ReadFileText(Below(PathOf("srv"), platform::Utf16FromUtf8(ChunkResource(chunk.digest))));
    ASSERT_EQ(stored.size(), chunk.storedLength);
    const std::string contents = Contents(stored, chunk.length);
    const ChunkDigest digest = DigestOfChunk(reinterpret_cast<const uint8_t*>(contents.data()), contents.size());
    EXPECT_EQ(digest, chunk.digest);
    joined += contents;
  }
  EXPECT_TRUE(joined == big) << "the chunks do not give the file back";
  const std::set<std::string> first = ChunkFiles(PathOf("srv"));
  std::set<ChunkDigest> distinct;
  for (const IndexedChunk& chunk : index->chunks) distinct.insert(chunk.digest);
  EXPECT_EQ(first.size(), distinct.size()) << "the store holds other chunks than the file's, or misses some";
  EXPECT_EQ(indexOf("small"), "") << "a small file has no index";
  EXPECT_EQ(std::distance(fs::directory_iterator(PathOf("srv/chunks/index")), fs::directory_iterator()), 1)
      << "one index for two files of the same contents";

  std::string edited = big;
  edited.insert(1u << 20, std::string(100, 'e'));
  MakeClient(PathOf("r2"), {{u"data\\big.bin", edited}, {u"models\\copy.ski", big}, {u"configs\\small.txt", "small"}},
             "2");
  PublishOk({"release", At("srv"), At("r2"), "2"});
  ASSERT_TRUE(ParseChunkIndex(indexOf(edited)));
  const std::set<std::string> second = ChunkFiles(PathOf("srv"));
  EXPECT_TRUE(std::includes(second.begin(), second.end(), first.begin(), first.end()));
  EXPECT_GE(second.size(), first.size() + 1);
  EXPECT_LE(second.size(), first.size() + 3) << "the edit changed chunks far from it";
  EXPECT_EQ(Publish({"verify", At("srv")}).exitCode, 0);
}

// The chunk store keeps what the last two releases' large files are made of: the release before
// the last for clients that read its lists just before the new version came. The rest goes.
TEST_F(PublishRelease, ChunksGoOnceNeitherOfTheLastTwoReleasesHoldsThem) {
  const std::string b1 = RandomBytes(3u << 20, 5);
  std::string b2 = b1;
  b2.replace(2u << 20, 4096, std::string(4096, 'o'));
  const std::string b3 = RandomBytes(2u << 20, 9);
  const auto indexOf = [this](const std::string& contents) {
    platform::Md5Digest md5{};
    EXPECT_TRUE(platform::ComputeMd5(contents.data(), contents.size(), &md5));
    return ReadFileText(Below(PathOf("srv"), platform::Utf16FromUtf8(ChunkIndexResource(md5))));
  };
  const auto indexCount = [this] {
    return std::distance(fs::directory_iterator(PathOf("srv/chunks/index")), fs::directory_iterator());
  };
  const std::vector<std::string> releases = {b1, b2, b3, b3};
  for (std::size_t n = 0; n < releases.size(); ++n) {
    const std::string version = std::to_string(n + 1);
    MakeClient(PathOf("r" + version), {{u"data\\big.bin", releases[n]}}, version);
    PublishOk({"release", At("srv"), At("r" + version), version});
  }
  // After release 3 (b2 before it) b1's index went, and its chunks b2 does not share.
  // After release 4 (b3 twice) only b3's are left.
  const std::set<std::string> left = ChunkFiles(PathOf("srv"));
  EXPECT_EQ(indexCount(), 1);
  EXPECT_EQ(indexOf(b2), "");
  EXPECT_TRUE(left == ChunkNamesOf(indexOf(b3))) << left.size() << " chunks are left";
  EXPECT_EQ(Publish({"verify", At("srv")}).exitCode, 0);

  // The same after release 3 alone: b2's chunks stay, b1's own go.
  fs::remove_all(PathOf("srv"));
  for (std::size_t n = 0; n < 3; ++n) {
    const std::string version = std::to_string(n + 1);
    const ChildResult published = Publish({"release", At("srv"), At("r" + version), version});
    ASSERT_EQ(published.exitCode, 0) << published.err;
    if (n == 2) {
      EXPECT_NE(published.out.find("chunks no release refers to any more: 1 indexes and "), std::string::npos)
          << published.out;
    }
  }
  std::set<std::string> wanted = ChunkNamesOf(indexOf(b2));
  const std::set<std::string> ofB3 = ChunkNamesOf(indexOf(b3));
  wanted.insert(ofB3.begin(), ofB3.end());
  EXPECT_EQ(indexCount(), 2);
  EXPECT_EQ(indexOf(b1), "");
  EXPECT_TRUE(ChunkFiles(PathOf("srv")) == wanted) << "the store is not what releases 2 and 3 are made of";
}

// verify reads every index of the release's large files and every chunk it names; a file with no
// index is fine (it is downloaded whole).
TEST_F(PublishRelease, VerifyFindsWhatIsWrongInTheChunkStore) {
  const std::string big = RandomBytes(3u << 20, 11);
  const std::string other = RandomBytes(2u << 20, 13);
  MakeClient(PathOf("r1"), {{u"data\\big.bin", big}, {u"data\\other.bin", other}}, "1");
  PublishOk({"release", At("clean"), At("r1"), "1"});
  platform::Md5Digest bigMd5{}, otherMd5{};
  ASSERT_TRUE(platform::ComputeMd5(big.data(), big.size(), &bigMd5));
  ASSERT_TRUE(platform::ComputeMd5(other.data(), other.size(), &otherMd5));
  const auto pathIn = [this](const std::string& server, const std::string& resource) {
    return Below(PathOf(server), platform::Utf16FromUtf8(resource));
  };
  const std::optional<ChunkIndex> index = ParseChunkIndex(ReadFileText(pathIn("clean", ChunkIndexResource(bigMd5))));
  ASSERT_TRUE(index && index->chunks.size() > 3);
  const std::string someChunk = ChunkResource(index->chunks[2].digest);
  const std::string bigIndex = ChunkIndexResource(bigMd5);
  const ChildResult clean = Publish({"verify", At("clean")});
  EXPECT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_NE(clean.out.find(" 2 chunk indexes, 0 problems"), std::string::npos) << clean.out;

  struct Case {
    const char* name;
    std::function<void(const std::string& server)> damage;
    std::string problem;  // empty: the tree is still sound
  };
  const std::vector<Case> cases = {
      {"a chunk's byte flipped",
       [&](const std::string& server) {
         std::string bytes = ReadFileText(pathIn(server, someChunk));
         bytes[bytes.size() / 2] ^= 0x20;
         testsupport::WriteWholeFile(pathIn(server, someChunk), bytes);
       },
       " is damaged"},
      {"a chunk missing", [&](const std::string& server) { fs::remove(pathIn(server, someChunk)); }, someChunk + ": "},
      {"a chunk cut short",
       [&](const std::string& server) {
         fs::resize_file(pathIn(server, someChunk), fs::file_size(pathIn(server, someChunk)) - 1);
       },
       " stored bytes, indexed as "},
      {"the index of other contents",
       [&](const std::string& server) {
         testsupport::WriteWholeFile(pathIn(server, bigIndex),
                                     ReadFileText(pathIn(server, ChunkIndexResource(otherMd5))));
       },
       "is the index of other contents"},
      {"an index that is none",
       [&](const std::string& server) {
         testsupport::WriteWholeFile(pathIn(server, bigIndex), "solmere-chunk-index 1\ncontent x\n");
       },
       "is no chunk index"},
      {"an index the manifest names missing", [&](const std::string& server) { fs::remove(pathIn(server, bigIndex)); },
       "release.manifest lists " + bigIndex + ", which the tree does not hold"},
      {"no index, as before chunks were",
       [&](const std::string& server) {
         fs::remove(pathIn(server, bigIndex));
         fs::remove(PathOf(server) / "release.manifest");
       },
       ""},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    const std::string server = "damaged";
    fs::remove_all(PathOf(server));
    fs::copy(PathOf("clean"), PathOf(server), fs::copy_options::recursive);
    testCase.damage(server);
    const ChildResult verified = Publish({"verify", At(server)});
    if (testCase.problem.empty()) {
      EXPECT_EQ(verified.exitCode, 0) << verified.err;
      continue;
    }
    EXPECT_EQ(verified.exitCode, 1) << verified.out;
    // Each problem of the store names the file it serves; the manifest's names the index.
    const std::string where = testCase.problem.find(bigIndex) == std::string::npos ? "data\\big.bin" : bigIndex;
    EXPECT_NE(verified.err.find(where), std::string::npos) << verified.err;
    EXPECT_NE(verified.err.find(testCase.problem), std::string::npos) << verified.err;
  }
}

}  // namespace
}  // namespace publish_test
