// publish sync into a folder remote with the real rclone: the remote ends equal to the tree,
// release after release, and a fake rclone in front of the real one shows the order of the
// uploads and what a failed step leaves behind.

#include <algorithm>
#include <fstream>

#include "publish_fixture.h"

namespace publish_test {
namespace {

class PublishSync : public PublishFixture {
 protected:
  // A stand-in for rclone that logs each run ("command NAME", preceded by "object NAME" for each
  // object it was given), fails with exit 7 on copy run number `failOnCopy` (0: never), and
  // otherwise runs the real rclone.
  std::string FakeRclone(int failOnCopy = 0) {
    const fs::path script = PathOf("fake-rclone.sh");
    std::ofstream(script) << "#!/bin/sh\n"
                          << "log='" << At("rclone.log") << "'\n"
                          << "prev=\n"
                          << "for a in \"$@\"; do\n"
                          << "  [ \"$prev\" = --files-from-raw ] && sed 's/^/object /' \"$a\" >>\"$log\"\n"
                          << "  prev=$a\n"
                          << "done\n"
                          << "echo \"command $1\" >>\"$log\"\n"
                          << "if [ \"$1\" = copy ]; then\n"
                          << "  copies=$(grep -c '^command copy' \"$log\")\n"
                          << "  [ \"$copies\" = " << failOnCopy << " ] && exit 7\n"
                          << "fi\n"
                          << "exec rclone \"$@\"\n";
    fs::permissions(script, fs::perms::owner_all);
    return U8String(script);
  }

  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(PathOf("rclone.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(PublishSync, TheRemoteEqualsTheTreeAfterEveryReleaseDeletionsIncluded) {
  std::map<std::string, std::string> before;
  for (int version = 1; version <= 3; ++version) {
    ReleaseSample(version, 2);
    PublishOk({"sync", At("server"), At("remote")});
    const std::map<std::string, std::string> tree = TreeFiles("server");
    ASSERT_TRUE(tree.count("version")) << "release " << version;
    EXPECT_EQ(TreeFiles("remote"), tree) << "release " << version;
    EXPECT_FALSE(fs::exists(PathOf("remote/.publish-lock")));
    // The sample drops files from one release to the next: those objects must be gone.
    std::size_t dropped = 0;
    for (const auto& [name, bytes] : before) dropped += tree.count(name) == 0;
    if (version > 1) {
      EXPECT_GT(dropped, 0u) << "release " << version << " dropped nothing to delete";
    }
    before = tree;
  }
}

TEST_F(PublishSync, VersionGoesUpAfterEveryOtherObjectAndDeletionsAfterIt) {
  ReleaseSample(1, 2);
  PublishOk({"sync", At("server"), At("remote")});
  ReleaseSample(2, 2);
  PublishOk({"sync", At("server"), At("remote"), "--rclone", FakeRclone()});
  EXPECT_EQ(TreeFiles("remote"), TreeFiles("server"));
  const std::vector<std::string> lines = LogLines();
  const auto at = [&](const std::string& line) {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
  };
  const std::size_t version = at("object version");
  ASSERT_LT(version, lines.size()) << "version was never uploaded";
  for (std::size_t i = version + 1; i < lines.size(); ++i)
    EXPECT_EQ(lines[i].rfind("object ", 0), std::string::npos) << lines[i] << " after version";
  const std::size_t deletions = at("command sync");
  ASSERT_LT(deletions, lines.size()) << "no deleting run";
  EXPECT_GT(deletions, version);
  // The old signature goes before the new manifest, the lists before the manifest.
  EXPECT_LT(at("command delete"), at("object release.manifest"));
  EXPECT_LT(at("object fulllist"), at("object release.manifest"));
  std::size_t lastContent = 0, firstList = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("object files/", 0) == 0 || lines[i].rfind("object chunks/", 0) == 0) lastContent = i;
    if (lines[i].rfind("object list_", 0) == 0 || lines[i] == "object fulllist") firstList = std::min(firstList, i);
  }
  EXPECT_LT(lastContent, firstList) << "a list went up before the content it names";
}

TEST_F(PublishSync, AFailedStepLeavesTheOldVersionAndARunAgainFinishes) {
  ReleaseSample(1, 2);
  PublishOk({"sync", At("server"), At("remote")});
  ReleaseSample(2, 2);
  const ChildResult failed = Publish({"sync", At("server"), At("remote"), "--rclone", FakeRclone(2)});
  EXPECT_EQ(failed.exitCode, 1) << failed.out << failed.err;
  EXPECT_NE(failed.err.find("rclone failed in the step"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("publish sync again"), std::string::npos) << failed.err;
  EXPECT_EQ(ReadFileText(PathOf("remote/version")), "1");
  PublishOk({"sync", At("server"), At("remote")});
  EXPECT_EQ(TreeFiles("remote"), TreeFiles("server"));
}

TEST_F(PublishSync, ADryRunNamesTheStepsAndChangesNothing) {
  ReleaseSample(1, 2);
  PublishOk({"sync", At("server"), At("remote")});
  ReleaseSample(2, 2);
  const std::map<std::string, std::string> remote = TreeFiles("remote");
  const ChildResult result = Publish({"sync", At("server"), At("remote"), "--dry-run", "--rclone", FakeRclone()});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(TreeFiles("remote"), remote);
  EXPECT_FALSE(fs::exists(PathOf("rclone.log"))) << "a dry run ran rclone";
  for (const char* step : {"content", "lists", "release manifest", "version", "deletions"})
    EXPECT_NE(result.out.find(std::string(", ") + step), std::string::npos) << step << "\n" << result.out;
}

TEST_F(PublishSync, BadUsageAndAFolderThatIsNoTree) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    const char* says;
  };
  fs::create_directories(PathOf("empty"));
  const Case cases[] = {
      {{"sync", At("empty")}, 2, "sync takes SERVER_DIR REMOTE"},
      {{"sync", At("empty"), At("remote"), "--rclone"}, 2, "--help"},
      {{"sync", At("empty"), At("remote"), "--bogus"}, 2, "--help"},
      {{"sync", At("empty"), At("remote")}, 1, "not a server tree"},
      {{"sync", At("missing"), At("remote")}, 1, "not a folder"},
  };
  for (const Case& c : cases) {
    const ChildResult result = Publish(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments.back() << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(PathOf("remote")));
}

}  // namespace
}  // namespace publish_test
