// publish as an operator expects it: arguments checked before anything is written, litter
// left out, a dry run, warnings about the client's version files, package URLs, verify
// on a folder that is no tree, JSON for scripts, and the GNU command-line conventions.

#include <set>

#include "publish_fixture.h"
#include "support/child_process.h"
#include "support/file_bytes.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;

namespace publish_test {
namespace {

std::size_t LineCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The text of "key":"..." or the raw value of "key":... in a JSON object.
std::string JsonValue(const std::string& json, const std::string& key, std::size_t from = 0) {
  const std::string marker = "\"" + key + "\":";
  const std::size_t at = json.find(marker, from);
  if (at == std::string::npos) return "<missing>";
  std::size_t start = at + marker.size();
  if (json[start] == '"') return json.substr(start + 1, json.find('"', start + 1) - start - 1);
  return json.substr(start, json.find_first_of(",}]", start) - start);
}

class PublishOperator : public PublishFixture {
 protected:
  // A client root of release `version` (its archives' version.sw and the client version
  // file both say so) holding `files`; returns the client data folder as publish takes it.
  std::string Client(const std::string& name, const std::map<std::u16string, std::string>& files, int version) {
    MakeClient(PathOf(name + "/velkar"), files, std::to_string(version));
    fs::create_directories(PathOf(name + "/config/velkar"));
    std::ofstream(PathOf(name + "/config/velkar/version.sw"), std::ios::binary) << version;
    return At(name + "/velkar");
  }
};

// Nothing is written until every argument has been checked: swapped folders, folders one
// inside the other, a folder that is no tree, or a client that is not whole.
TEST_F(PublishOperator, ArgumentsAreCheckedBeforeAnythingIsWritten) {
  const std::string client = Client("c1", {{u"configs\\a.txt", "a"}}, 1);
  PublishOk({"release", At("srv"), client, "1"});
  Client("c2", {{u"configs\\a.txt", "b"}}, 2);
  fs::create_directories(PathOf("busy"));
  std::ofstream(PathOf("busy/notes.txt")) << "someone's files";
  fs::create_directories(PathOf("half/velkar"));
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{"release", At("c2/velkar"), At("srv"), "2"}, "are SERVER_DIR and CLIENT_DIR swapped?"},
      {{"release", At("c2/velkar/tree"), At("c2/velkar"), "2"}, "lie one inside the other"},
      {{"release", At("c2"), At("c2/velkar"), "2"}, "lie one inside the other"},
      {{"release", At("busy"), At("c2/velkar"), "2"}, "is not empty and no server tree"},
      {{"release", At("new"), At("half/velkar"), "2"}, "is missing"},
      {{"release", At("new"), At("nowhere"), "2"}, "is not a folder"},
      {{"release", At("new"), At("c2"), "2"}, "is a client root, not its data folder: give "},
  };
  for (const Case& c : cases) {
    const auto before = Snapshot(root_);
    const ChildResult result = Publish(c.arguments);
    EXPECT_EQ(result.exitCode, 1) << c.arguments[1] << " " << c.arguments[2] << "\n" << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_TRUE(Snapshot(root_) == before) << c.arguments[1] << " " << c.arguments[2] << ": something was written";
  }
  // The root instead of its velkar folder is one line that names the folder to give.
  const ChildResult root = Publish({"release", At("new"), At("c2"), "2"});
  EXPECT_EQ(root.err, "publish: " + At("c2") + " is a client root, not its data folder: give " +
                          U8String(PathOf("c2") / "velkar") + ", the folder that holds the archives\n");
  EXPECT_FALSE(fs::exists(PathOf("c2/velkar/.publish-lock")));
  EXPECT_FALSE(fs::exists(PathOf("new")));
}

// Hidden files, system litter and publish's own files are never published; each is named.
TEST_F(PublishOperator, HiddenAndSystemFilesAreSkippedWithANote) {
  const std::string client = Client("c1", {{u"configs\\a.txt", "a"}, {u"real.txt", "real"}}, 1);
  const std::vector<std::string> litter = {".DS_Store",   "Thumbs.db",     "sub/desktop.ini",
                                           "DESKTOP.INI", ".publish-lock", "left.txt.publish-tmp",
                                           ".git/config"};
  for (const std::string& name : litter) {
    fs::create_directories(PathOf("c1/velkar/" + name).parent_path());
    std::ofstream(PathOf("c1/velkar/" + name)) << "litter";
  }
  const ChildResult result = Publish({"release", At("srv"), client, "1"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  for (const std::string name :
       {".DS_Store", "Thumbs.db", "desktop.ini", "DESKTOP.INI", ".publish-lock", "left.txt.publish-tmp", ".git"})
    EXPECT_NE(result.err.find(name + ": hidden, system or temporary"), std::string::npos) << name << "\n" << result.err;
  EXPECT_EQ(result.err.find("config:"), std::string::npos) << "a hidden folder is skipped whole";
  std::set<std::u16string> listed;
  for (const Listed& entry : ParseList(ReadFileText(PathOf("srv/fulllist")), 4)) listed.insert(entry.name);
  EXPECT_EQ(listed, (std::set<std::u16string>{u"configs\\a.txt", u"real.txt"}));
}

// --dry-run tells what a release would add, change and delete, and the packages it would
// build, to the byte, and writes nothing at all.
TEST_F(PublishOperator, DryRunReportsTheReleaseAndWritesNothing) {
  const std::string text(5000, 'x');
  PublishOk({"release", At("srv"),
             Client("c1",
                    {{u"configs\\a.txt", "a"},
                     {u"configs\\Old.txt", "o"},
                     {u"models\\same.ski", "s"},
                     {u"gone.txt", "g"},
                     {u"keep.txt", "k"}},
                    1),
             "1"});
  const std::string client = Client("c2",
                                    {{u"configs\\a.txt", text},
                                     {u"configs\\new.txt", "n"},
                                     {u"models\\same.ski", "s"},
                                     {u"keep.txt", "k"},
                                     {u"added.txt", "+"}},
                                    2);
  const auto before = Snapshot(PathOf("srv"));
  const ChildResult dry = Publish({"release", At("srv"), client, "2", "--dry-run", "--package-from", "1",
                                   "--package-url-base", "http://h/p", "--patcher-version", "3"});
  ASSERT_EQ(dry.exitCode, 0) << dry.err;
  EXPECT_TRUE(Snapshot(PathOf("srv")) == before) << "the dry run wrote into the tree";
  for (const std::string line :
       {"dry run: nothing is written\n", "configs: 2 files; 1 added, 1 changed, 1 deleted\n", "  ~ configs\\a.txt\n",
        "  + configs\\new.txt\n", "  - configs\\old.txt\n", "plain files: 2 files; 1 added, 0 changed, 1 deleted\n",
        "  + added.txt\n", "  - gone.txt\n", "would write list_1, fulllist and version 2\n"})
    EXPECT_NE(dry.out.find(line), std::string::npos) << line << "in\n" << dry.out;
  EXPECT_EQ(dry.out.find("models"), std::string::npos) << "an archive without changes is not listed:\n" << dry.out;

  // The package it announced is the package the release then builds.
  const std::size_t at = dry.out.find("package 1-2.cup: 5 records, ");
  ASSERT_NE(at, std::string::npos) << dry.out;
  const std::string announced = dry.out.substr(at + 28, dry.out.find(' ', at + 28) - at - 28);
  PublishOk({"release", At("srv"), client, "2", "--package-from", "1", "--package-url-base", "http://h/p"});
  EXPECT_EQ(std::to_string(fs::file_size(PathOf("srv/patches/1-2.cup"))), announced);

  // Not even a new tree's folder is made.
  const ChildResult fresh = Publish({"release", At("fresh"), client, "1", "--dry-run"});
  EXPECT_EQ(fresh.exitCode, 0) << fresh.err;
  EXPECT_FALSE(fs::exists(PathOf("fresh")));
}

// Before anything is published, the client's version files are compared with the release,
// and a release without changes is pointed out.
TEST_F(PublishOperator, ClientFolderIsCheckedBeforePublishing) {
  PublishOk({"release", At("srv"), Client("c1", {{u"configs\\a.txt", "a"}}, 1), "1"});
  struct Case {
    std::string name;
    void (*damage)(const fs::path& root);
    std::string warning;  // empty: none at all
  };
  const Case cases[] = {
      {"right", [](const fs::path&) {}, ""},
      {"no-entry",
       [](const fs::path& root) {
         TavrinFilePackage configs;
         ASSERT_EQ(configs.Open((root / "velkar" / "configs").u16string(), u"configs"), PackageResult::kOk);
         ASSERT_EQ(configs.RemoveFile(u"configs\\version.sw"), PackageResult::kOk);
         ASSERT_EQ(configs.Save(), PackageResult::kOk);
         configs.clearIndexChanged();
       },
       "configs.pck has no version.sw entry: the updater takes a client with these files for version 0"},
      {"old-entries",
       [](const fs::path& root) {
         MakeClient(root / "velkar", {{u"configs\\a.txt", "changed"}}, "1");
       },
       "the version files disagree with release 2: every archive's version.sw says 1; the updater reads the lowest, "
       "1,"},
      {"zero-file",
       [](const fs::path& root) { std::ofstream(root / "config" / "velkar" / "version.sw", std::ios::binary) << "0"; },
       "says 0; the updater reads the lowest, 0, as the client's version, so such a client updates from 0 with a "
       "full check"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Client(c.name, {{u"configs\\a.txt", "changed"}}, 2);
    c.damage(PathOf(c.name));
    const ChildResult result = Publish({"release", At("srv"), At(c.name + "/velkar"), "2", "--dry-run"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    if (c.warning.empty()) {
      EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;
    } else {
      EXPECT_EQ(result.err.rfind("publish: warning: ", 0), 0u) << result.err;
      EXPECT_NE(result.err.find(c.warning), std::string::npos) << result.err;
    }
  }
  // The same files again: a release with nothing in it.
  const ChildResult same = Publish({"release", At("srv"), Client("same", {{u"configs\\a.txt", "a"}}, 2), "2"});
  EXPECT_EQ(same.exitCode, 0) << same.err;
  EXPECT_NE(same.err.find("publish: warning: release 2 changes nothing since release 1"), std::string::npos)
      << same.err;
}

// However the base ends, the package's URL has exactly one "/" before its name.
TEST_F(PublishOperator, PackageUrlIsJoinedWithOneSlash) {
  PublishOk({"release", At("srv"), Client("c1", {{u"configs\\a.txt", "a"}}, 1), "1"});
  const std::string client = Client("c2", {{u"configs\\a.txt", "b"}}, 2);
  const std::pair<std::string, std::string> cases[] = {
      {"http://h", "http://h/1-2.cup"},       {"http://h/", "http://h/1-2.cup"},
      {"http://h/p", "http://h/p/1-2.cup"},   {"http://h/p/", "http://h/p/1-2.cup"},
      {"http://h/p//", "http://h/p/1-2.cup"}, {"http://h:8080/a/b/", "http://h:8080/a/b/1-2.cup"},
  };
  for (const auto& [base, url] : cases) {
    const ChildResult result = Publish({"release", At("srv"), client, "2", "--dry-run", "--json", "--package-from", "1",
                                        "--package-url-base=" + base});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(JsonValue(result.out, "url"), url) << base;
  }
}

// verify on a folder that is no tree says so in one line; --json gives scripts the outcome.
TEST_F(PublishOperator, VerifyTellsAFolderThatIsNoTreeInOneLine) {
  const std::string client = Client("c1", {{u"configs\\a.txt", "a"}}, 1);
  fs::create_directories(PathOf("empty"));
  for (const std::string& folder : {At("empty"), At("c1"), client}) {
    const ChildResult result = Publish({"verify", folder});
    EXPECT_EQ(result.exitCode, 1) << folder;
    EXPECT_EQ(LineCount(result.err), 1u) << result.err;
    EXPECT_NE(result.err.find("is not a server tree"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "") << result.out;
  }
}

TEST_F(PublishOperator, ReleaseAndVerifyReportInJson) {
  PublishOk({"release", At("srv"), Client("c1", {{u"configs\\a.txt", "a"}, {u"gone.txt", "g"}}, 1), "1"});
  const std::string client = Client("c2", {{u"configs\\a.txt", "b"}, {u"new.txt", "n"}}, 2);
  const ChildResult release =
      Publish({"release", "--json", At("srv"), client, "2", "--package-from", "1", "--package-url-base", "http://h/p"});
  ASSERT_EQ(release.exitCode, 0) << release.err;
  // stdout holds the object alone; the report went to stderr.
  ASSERT_EQ(LineCount(release.out), 1u) << release.out;
  EXPECT_EQ(release.out.front(), '{');
  EXPECT_NE(release.err.find("version 2 published in"), std::string::npos) << release.err;
  const std::pair<const char*, std::string> expected[] = {
      {"release", "2"}, {"dryRun", "false"}, {"files", "2"},      {"added", "1"},   {"changed", "1"},
      {"deleted", "1"}, {"lists", "1"},      {"file", "1-2.cup"}, {"records", "3"}, {"exitCode", "0"},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(JsonValue(release.out, key), value) << key << release.out;
  EXPECT_NE(release.out.find("\"errors\":[]"), std::string::npos) << release.out;

  const ChildResult healthy = Publish({"verify", At("srv"), "--json"});
  EXPECT_EQ(healthy.exitCode, 0) << healthy.err;
  EXPECT_EQ(JsonValue(healthy.out, "version"), "2");
  EXPECT_EQ(JsonValue(healthy.out, "problems"), "0");
  fs::remove(PathOf("srv/files/new.txt"));
  const ChildResult damaged = Publish({"verify", At("srv"), "--json"});
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_EQ(JsonValue(damaged.out, "problems"), "1") << damaged.out;
  EXPECT_NE(damaged.out.find("\"errors\":[\"files\\\\new.txt: "), std::string::npos) << damaged.out;
  EXPECT_EQ(JsonValue(damaged.out, "exitCode"), "1");
  const ChildResult notTree = Publish({"verify", At("c1"), "--json"});
  EXPECT_EQ(JsonValue(notTree.out, "exitCode"), "1") << notTree.out;
  EXPECT_NE(notTree.out.find("is not a server tree"), std::string::npos) << notTree.out;
}

TEST_F(PublishOperator, CommandLineFollowsGnuConventions) {
  const ChildResult version = Publish({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("publish (Solmere Classic Updater) ", 0), 0u) << version.out;

  struct Misuse {
    std::vector<std::string> arguments;
    std::string message;
    std::string usage;
  };
  const Misuse misuses[] = {
      {{"release", At("srv")}, "release takes SERVER_DIR CLIENT_DIR VERSION", "usage: publish release SERVER_DIR"},
      {{"release", At("srv"), At("c"), "1", "--dry-run=yes"},
       "option --dry-run takes no value",
       "usage: publish release"},
      {{"verify", At("a"), At("b")}, "verify takes SERVER_DIR", "usage: publish verify SERVER_DIR"},
      {{"sample", At("s")}, "sample takes ROOT VERSION", "usage: publish sample ROOT VERSION"},
      {{"frobnicate"}, "unknown command frobnicate", "usage: publish release|verify|sign|keygen|sync|sample"},
  };
  for (const Misuse& misuse : misuses) {
    const ChildResult result = Publish(misuse.arguments);
    EXPECT_EQ(result.exitCode, 2) << misuse.message;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("publish: " + misuse.message, 0), 0u) << result.err;
    EXPECT_NE(result.err.find(misuse.usage), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Try \"publish --help\""), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("Exit codes"), std::string::npos) << "the whole help on a usage error";
  }
  // After "--" a name that starts with "-" is a folder, not an option.
  const std::string client = Client("c1", {{u"configs\\a.txt", "a"}}, 1);
  const fs::path working = fs::current_path();
  fs::current_path(root_);
  const ChildResult dashed = Publish({"release", "--", "--tree", client, "1"});
  fs::current_path(working);
  EXPECT_EQ(dashed.exitCode, 0) << dashed.err;
  EXPECT_EQ(ReadFileText(PathOf("--tree/version")), "1");
}

}  // namespace
}  // namespace publish_test
