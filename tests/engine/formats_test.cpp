// Package URLs and client paths from untrusted server and package bytes, on their own.
#include <gtest/gtest.h>

#include <string>

#include "archive/archive_names.h"
#include "engine/client_path.h"
#include "net/parse_url.h"
#include "platform/text.h"

namespace {

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
  const auto archiveOf = [](std::u16string_view path) -> std::u16string {
    const std::optional<std::size_t> archive = ArchiveOfPath(path);
    return archive ? std::u16string(kArchiveNames[*archive]) : u"<plain>";
  };
  EXPECT_EQ(archiveOf(u"modelsX\\a.ski"), u"models");
  EXPECT_EQ(archiveOf(u"help\\script\\a.lua"), u"help\\script");
  EXPECT_EQ(archiveOf(u"help\\readme.txt"), u"<plain>");
  EXPECT_EQ(archiveOf(u"Models\\a.ski"), u"<plain>");
  // "/" is "\" to the file system, and so to the archives.
  EXPECT_EQ(archiveOf(u"help/script\\a.lua"), u"help\\script");
  EXPECT_EQ(archiveOf(u"help/script.pck"), u"help\\script");
  EXPECT_EQ(archiveOf(u"help"), u"<plain>");
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

}  // namespace
