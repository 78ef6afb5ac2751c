// publish's updater files: the updater's folder and the launcher program's published under
// patcher\ and launcher\ with their lists, kept in step with patcher_version_new, covered by the
// release manifest and checked by verify.

#include "formats/file_list.h"
#include "formats/release_manifest.h"
#include "publish_fixture.h"
#include "support/child_process.h"
#include "support/file_bytes.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;

namespace publish_test {
namespace {

class PublishProgramFiles : public PublishFixture {
 protected:
  std::string Client(const std::string& name, int version) {
    MakeClient(PathOf(name + "/velkar"), {{u"configs\\a.txt", "client " + std::to_string(version)}},
               std::to_string(version));
    return At(name + "/velkar");
  }
  void Put(const std::string& relative, const std::string& bytes) {
    fs::create_directories(PathOf(relative).parent_path());
    testsupport::WriteWholeFile(PathOf(relative), bytes);
  }
  // The list of a part as the launcher program reads it.
  std::vector<ListEntry> ListOf(const std::string& part, int32_t* version) {
    const std::string text = ReadFileText(PathOf("srv/" + part + "/list"));
    std::vector<ListEntry> entries;
    std::string why;
    EXPECT_TRUE(DecodeFullList(std::vector<uint8_t>(text.begin(), text.end()), version, &entries, &why)) << why;
    return entries;
  }
};

TEST_F(PublishProgramFiles, TheUpdatersFilesArePublishedWithTheirListAndFollowEachRelease) {
  Put("patcher/patcher.exe", std::string(5000, 'x'));
  Put("patcher/skin/main.xml", "<skin/>");
  Put("patcher/skin/old.png", "old picture");
  Put("launcher/Launcher.exe", "launcher program");
  PublishOk({"release", At("srv"), Client("c1", 1), "1", "--patcher-version", "4", "--patcher-files", At("patcher"),
             "--launcher-files", At("launcher")});
  int32_t version = 0;
  std::vector<ListEntry> entries = ListOf("patcher", &version);
  EXPECT_EQ(version, 4);
  std::vector<std::u16string> names;
  for (const ListEntry& entry : entries) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"patcher.exe", u"skin\\main.xml", u"skin\\old.png"}));
  EXPECT_EQ(entries[0].info.size, 5000u);
  EXPECT_LT(entries[0].info.storedSize, 5000u) << "stored compressed";
  EXPECT_EQ(ListOf("launcher", &version).size(), 1u);
  EXPECT_EQ(ReadFileText(PathOf("srv/patcher_version_new")), "4");
  const std::optional<ReleaseManifest> manifest = ParseReleaseManifest(ReadFileText(PathOf("srv/release.manifest")));
  ASSERT_TRUE(manifest);
  EXPECT_NE(manifest->Find("patcher\\list"), nullptr);
  EXPECT_NE(manifest->Find("launcher\\list"), nullptr);
  EXPECT_EQ(Publish({"verify", At("srv")}).exitCode, 0);

  // A new updater: a changed picture, one gone; the stored form of the one gone goes too.
  Put("patcher/skin/main.xml", "<skin version='2'/>");
  fs::remove(PathOf("patcher/skin/old.png"));
  PublishOk({"release", At("srv"), Client("c2", 2), "2", "--patcher-version", "5", "--patcher-files", At("patcher")});
  entries = ListOf("patcher", &version);
  EXPECT_EQ(version, 5);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].info.size, std::string("<skin version='2'/>").size());
  EXPECT_FALSE(fs::exists(PathOf("srv/patcher/files/skin/old.png")));
  EXPECT_TRUE(fs::exists(PathOf("srv/patcher/files/skin/main.xml")));
  // The launcher's list stays of version 4: verify says so.
  const ChildResult verified = Publish({"verify", At("srv")});
  EXPECT_EQ(verified.exitCode, 1);
  EXPECT_NE(verified.err.find("launcher\\list is for updater version 4, patcher_version_new says 5"), std::string::npos)
      << verified.err;

  // A stored file damaged after publication.
  testsupport::WriteWholeFile(PathOf("srv/patcher/files/patcher.exe"), std::string("xx"));
  EXPECT_NE(Publish({"verify", At("srv")}).err.find("patcher\\files\\patcher.exe"), std::string::npos);
}

TEST_F(PublishProgramFiles, WrongFoldersAreRefusedBeforeAnythingIsWritten) {
  Put("patcher/patcher.exe", "program");
  fs::create_directories(PathOf("empty"));
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
  } refused[] = {
      {"WithoutAnUpdaterVersion", {"--patcher-files", At("patcher")}, 2},
      {"LauncherWithoutAnUpdaterVersion", {"--launcher-files", At("patcher")}, 2},
      {"MissingFolder", {"--patcher-version", "2", "--patcher-files", At("missing")}, 1},
      {"EmptyFolder", {"--patcher-version", "2", "--patcher-files", At("empty")}, 1},
  };
  const std::string client = Client("c1", 1);
  for (const auto& c : refused) {
    std::vector<std::string> arguments = {"release", At("srv"), client, "1"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ChildResult result = Publish(arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.name << "\n" << result.err;
    EXPECT_FALSE(fs::exists(PathOf("srv/version"))) << c.name << ": a release was written";
  }
}

}  // namespace
}  // namespace publish_test
