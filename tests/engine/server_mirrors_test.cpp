// The update server with mirrors, each a scripted server: a release is taken from the first
// that gives it whole, and a file that does not come, or comes damaged, from the next.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/engine_fixture.h"
#include "engine/scripted_release.h"
#include "engine/server_tree.h"
#include "formats/release_signature.h"
#include "platform/text.h"
#include "support/file_bytes.h"
#include "support/scripted_http_server.h"

namespace {

using testsupport::ListedFile;
using testsupport::ScriptedHttpServer;
using testsupport::ScriptedRelease;
using testsupport::ScriptedResponse;

const std::vector<ListedFile> kRelease = {
    {u"models\\a.ski", std::string(3000, 'm') + "new model"},
    {u"help\\readme.txt", std::string(2000, 'r')},
    {u"data\\raw.dat", "plain raw", false},
    {u"old.txt", "", true, true},
};

// Both spellings of a server path (see ScriptedRelease).
void ServeBoth(ScriptedHttpServer& server, const std::string& path, const ScriptedResponse& response) {
  server.Serve("/" + path, response);
  std::string slashed = path;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  server.Serve("/" + slashed, response);
}

std::string AddressOf(const ScriptedHttpServer& server) {
  return "127.0.0.1:" + std::to_string(server.port());
}

bool AskedFor(const ScriptedHttpServer& server, const std::string& part) {
  for (const std::string& line : server.requestLines())
    if (line.find(part) != std::string::npos) return true;
  return false;
}

class ServerMirrorsTest : public ClientFixture {
 protected:
  void MakeMirrors(const std::vector<uint16_t>& ports) {
    std::vector<UpdateServerAddress> servers;
    for (uint16_t port : ports) servers.push_back({u"127.0.0.1", port});
    set_.reset();
    set_ = std::make_unique<ClientArchiveSet>(ClientLayout(temp_.U16("patcher")), servers);
    ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  }
  // Version, change list and file pass, as an update runs them.
  CheckResult::Outcome Update(int32_t expectedVersion) {
    const ServerVersion version = set_->FetchServerVersion(Context());
    EXPECT_EQ(version.version, expectedVersion) << LogText();
    if (!version.fetched()) return CheckResult::Outcome::kCancelled;
    const ListResult list = set_->GetList(Context(), set_->ReadLocalVersion(), version.version);
    EXPECT_TRUE(list.loaded()) << LogText();
    if (!list.loaded()) return CheckResult::Outcome::kCancelled;
    return set_->CheckFiles(Context(), false).outcome;
  }
  void ExpectTheRelease() {
    EXPECT_EQ(Archived(u"models", u"models\\a.ski"), kRelease[0].content);
    EXPECT_EQ(ClientFileText("help/readme.txt"), kRelease[1].content);
    EXPECT_EQ(ClientFileText("data/raw.dat"), "plain raw");
    EXPECT_EQ(ClientFileText("old.txt"), "<absent>");
  }
};

// A first server that is down, that fails every request, or that serves the release with one
// file damaged and one missing: the update ends as from a sound server, and the log names the
// server each failure came from.
TEST_F(ServerMirrorsTest, AServerThatFailsIsPassedOverForTheNext) {
  struct Case {
    const char* name;
    bool down;
    bool failsAll;
    const char* expectedLine;
  };
  const Case cases[] = {
      {"down", true, false, "Can't fetch version from 127.0.0.1:"},
      {"503 for everything", false, true, "Can't fetch version from 127.0.0.1:"},
      {"a damaged and a missing file", false, false, "is damaged: taken from the next server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int connections : {1, 4}) {
      SCOPED_TRACE(connections);
      // A fresh client each round: its archives closed first (Windows keeps open files).
      set_.reset();
      std::filesystem::remove_all(temp_ / "velkar");
      PutClientFile("old.txt", "to be removed");
      ScriptedHttpServer first;
      ScriptedHttpServer second;
      ASSERT_TRUE(first.listening() && second.listening());
      ScriptedRelease good(second);
      good.Version(5);
      good.ChangeList(1, kRelease);
      uint16_t firstPort = first.port();
      if (c.failsAll) {
        ScriptedResponse failing;
        failing.status = 503;
        for (const char* target : {"/version", "/list_1"}) first.Serve(target, failing);
      } else if (!c.down) {
        ScriptedRelease mirrored(first);
        mirrored.Version(5);
        mirrored.ChangeList(1, kRelease);
        ScriptedResponse damaged;
        damaged.body = std::string(9, 'x');
        ServeBoth(first, "files\\data\\raw.dat", damaged);
        ScriptedResponse missing;
        missing.status = 404;
        ServeBoth(first, "files\\help\\readme.txt", missing);
      }
      if (c.down) {
        // A port nobody listens on any more.
        ScriptedHttpServer gone;
        firstPort = gone.port();
      }
      MakeMirrors({firstPort, second.port()});
      set_->SetConnections(connections);
      ASSERT_TRUE(set_->WriteLocalVersion(4).written());
      const std::size_t logFrom = LogText().size();
      EXPECT_EQ(Update(5), CheckResult::Outcome::kDone) << LogText().substr(logFrom);
      ExpectTheRelease();
      const std::string log = LogText().substr(logFrom);
      EXPECT_NE(log.find(c.expectedLine), std::string::npos) << log;
      if (!c.down && !c.failsAll) {
        EXPECT_NE(log.find("Can't fetch files\\help\\readme.txt from " + AddressOf(first) + ": "), std::string::npos)
            << log;
        EXPECT_NE(log.find("files\\data\\raw.dat from " + AddressOf(first) + " is damaged"), std::string::npos) << log;
        EXPECT_FALSE(AskedFor(second, "version")) << "the release came from the first server";
        EXPECT_TRUE(AskedFor(second, "raw.dat"));
        EXPECT_FALSE(AskedFor(second, "a.ski")) << "what the first served well is not asked for again";
      } else {
        EXPECT_NE(log.find("Release 5 from " + AddressOf(second)), std::string::npos) << log;
        EXPECT_FALSE(AskedFor(first, "files")) << "no file is asked of a server that gave no release";
      }
    }
  }
}

// Every server failing: the failure of the last one stands, as with one server.
TEST_F(ServerMirrorsTest, WhenEveryServerFailsTheUpdateFails) {
  ScriptedHttpServer first;
  ScriptedHttpServer second;
  ScriptedRelease one(first);
  one.Version(5);
  one.ChangeList(1, kRelease);
  ScriptedRelease two(second);
  two.Version(5);
  two.ChangeList(1, kRelease);
  ScriptedResponse damaged;
  damaged.body = std::string(9, 'x');
  ServeBoth(first, "files\\data\\raw.dat", damaged);
  ServeBoth(second, "files\\data\\raw.dat", damaged);
  MakeMirrors({first.port(), second.port()});
  ASSERT_TRUE(set_->WriteLocalVersion(4).written());
  EXPECT_EQ(Update(5), CheckResult::Outcome::kDownloadFailed);
  EXPECT_EQ(ClientFileText("data/raw.dat"), "<absent>") << "nothing damaged is stored";

  ScriptedResponse failing;
  failing.status = 503;
  first.Serve("/version", failing);
  second.Serve("/version", failing);
  const ServerVersion version = set_->FetchServerVersion(Context());
  EXPECT_EQ(version.outcome, ServerVersion::Outcome::kFailed);
  EXPECT_EQ(version.request.port, second.port()) << "the last server's failure is told";
  EXPECT_EQ(version.request.status, 503);
}

// A mirror caught half-way through its sync: its version and signed manifest are of release 2,
// its change list still of release 1. The list is refused through the manifest's digests and
// the whole release, list and files, is taken from the next server; the stale list's files are
// never asked for.
TEST_F(ServerMirrorsTest, AHalfSyncedMirrorIsRefusedThroughTheReleaseManifest) {
  const std::optional<KeyPair> key = NewKeyPair();
  ASSERT_TRUE(key);
  const std::vector<ListedFile> stale = {{u"models\\a.ski", "the model of release 1"}};
  // The signed release, as the operator published it.
  const std::filesystem::path tree = temp_ / "tree";
  testsupport::ServerTree writer(tree);
  writer.PutVersion(2);
  writer.PutChangeList(1, kRelease);
  writer.PutReleaseManifest(2, static_cast<int64_t>(std::time(nullptr)) + 86400,
                            {{"version", u"version"}, {"list_1", u"list_1"}}, &key->secretKey);
  ScriptedHttpServer first;
  ScriptedHttpServer second;
  ScriptedRelease halfSynced(first);
  ScriptedRelease synced(second);
  halfSynced.ChangeList(1, stale);
  synced.ChangeList(1, kRelease);
  for (const char* name : {"version", "release.manifest", "release.manifest.sig"}) {
    ScriptedResponse response;
    response.body = AsText(ReadWholeFile(tree / name));
    first.Serve(std::string("/") + name, response);
    second.Serve(std::string("/") + name, response);
  }
  MakeMirrors({first.port(), second.port()});
  set_->server().SetReleaseKeys({key->publicKey});
  PutClientFile("old.txt", "to be removed");
  ASSERT_TRUE(set_->WriteLocalVersion(1).written());
  const std::size_t logFrom = LogText().size();
  EXPECT_EQ(Update(2), CheckResult::Outcome::kDone) << LogText().substr(logFrom);
  ExpectTheRelease();
  const std::string log = LogText().substr(logFrom);
  EXPECT_NE(log.find("list_1 does not match the signed release manifest"), std::string::npos) << log;
  EXPECT_NE(log.find("Release 2 taken from " + AddressOf(second)), std::string::npos) << log;
  EXPECT_FALSE(AskedFor(first, "files")) << "nothing of the stale list was fetched";
}

// An update package on the update server that its first server fails to send (it breaks off
// half-way) comes whole from the next; the lists stay the first server's.
TEST_F(ServerMirrorsTest, APackageThatBreaksOffComesFromTheNextServer) {
  const std::vector<uint8_t> package = testsupport::PackageBytes(1, 2, kRelease);
  ScriptedHttpServer first;
  ScriptedHttpServer second;
  ScriptedRelease release(first);
  release.Version(2);
  release.Text("/patches\\list", "1 2 http://127.0.0.1:" + std::to_string(first.port()) + "/packs/p.cup\n");
  release.Text("/patches/list", "1 2 http://127.0.0.1:" + std::to_string(first.port()) + "/packs/p.cup\n");
  ScriptedResponse broken;
  broken.body.assign(package.begin(), package.end());
  broken.dropAfter = package.size() / 2;
  first.Serve("/packs/p.cup", broken);
  ScriptedResponse whole;
  whole.body.assign(package.begin(), package.end());
  second.Serve("/packs/p.cup", whole);
  MakeMirrors({first.port(), second.port()});
  ASSERT_EQ(set_->FetchServerVersion(Context()).version, 2);
  const std::size_t logFrom = LogText().size();
  const PackageDownload download = set_->DownloadPatchPackage(Context(), 1, 2);
  ASSERT_TRUE(download.downloaded()) << LogText().substr(logFrom);
  EXPECT_EQ(ReadWholeFile(temp_ / "config" / "patcher" / "tempfile.dat"), package);
  EXPECT_NE(LogText().find("Update package /packs/p.cup: asked for from the next server", logFrom), std::string::npos)
      << LogText().substr(logFrom);
  EXPECT_FALSE(AskedFor(second, "list")) << "the package line came from the first server";
}

// Through a cache that keeps copies of every name for minutes, whatever the request asks (a CDN
// edge set up wrong): the version, the release manifest (unsigned here) or a change list may
// come from another release than the rest. The updater holds the lists against the manifest,
// asks for what does not match again with a query naming the release (which a cache keys on and
// a static server ignores), and never takes a list of another release than the one it records.
TEST_F(ServerMirrorsTest, ACacheThatKeepsOldCopiesIsPassedByWithTheRelease) {
  const std::vector<ListedFile> stale = {{u"models\\a.ski", "the model of release 1"}};
  // What the origin serves at releases 2 and 3, and what a cache kept of release 1.
  const auto treeOf = [this](const std::string& name, int32_t release, int32_t behind,
                             const std::vector<ListedFile>& files) {
    const std::filesystem::path folder = temp_ / name;
    testsupport::ServerTree writer(folder);
    writer.PutVersion(release);
    writer.PutChangeList(behind, files);
    const std::u16string list = u"list_" + platform::Utf16FromUtf8(std::to_string(behind));
    writer.PutReleaseManifest(release, 0, {{"version", u"version"}, {platform::Utf8FromUtf16(list), list}}, nullptr);
    return folder;
  };
  const std::filesystem::path two = treeOf("two", 2, 1, kRelease);
  const std::filesystem::path three = treeOf("three", 3, 2, kRelease);
  const std::filesystem::path old = treeOf("old", 1, 1, stale);
  const auto bytesOf = [](const std::filesystem::path& tree, const char* name) {
    return AsText(ReadWholeFile(tree / name));
  };
  struct Case {
    const char* name;
    // Target → the tree whose bytes the cache gives for it.
    std::vector<std::pair<std::string, std::filesystem::path>> served;
    int32_t release;  // the release the update reaches; 0: the list is refused
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"a change list of another release",
       {{"/version", two}, {"/release.manifest", two}, {"/list_1", old}, {"/list_1?release=2", two}},
       2,
       "list_1 does not match the release manifest: asked for again"},
      {"the manifest of another release",
       {{"/version", two},
        {"/release.manifest", old},
        {"/release.manifest?release=2", two},
        {"/list_1", old},
        {"/list_1?release=2", two}},
       2,
       "The release manifest is of release 1, the version 2: both asked for past caches"},
      {"a version of the release before",
       {{"/version", two},
        {"/release.manifest", three},
        {"/release.manifest?release=2", three},
        {"/version?release=3", three},
        {"/list_2", three}},
       3,
       "The release manifest is of release 3, the version 2: both asked for past caches"},
      {"stored files of another release",
       {{"/version", two}, {"/release.manifest", two}, {"/list_1", two}},
       2,
       "files\\data\\raw.dat does not match the list: asked for again past caches"},
      {"a change list of another release, even past the cache",
       {{"/version", two}, {"/release.manifest", two}, {"/list_1", old}, {"/list_1?release=2", old}},
       0,
       "list_1 does not match the release manifest of release 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    set_.reset();
    std::filesystem::remove_all(temp_ / "velkar");
    PutClientFile("old.txt", "to be removed");
    ScriptedHttpServer cache;
    ASSERT_TRUE(cache.listening());
    // The stored files, whichever release's list names them; a cache that kept release 1's
    // gives those unless the query names the release.
    ScriptedRelease files(cache);
    files.ChangeList(9, kRelease);
    if (std::string(c.name) == "stored files of another release") {
      // An archive entry and a plain file.
      for (const auto& [path, keptContent, freshContent, compress] :
           {std::tuple{std::string("models\\a.ski"), stale[0].content, kRelease[0].content, true},
            std::tuple{std::string("data\\raw.dat"), std::string("raw of release 1"), std::string("plain raw"),
                       false}}) {
        ScriptedResponse kept;
        kept.body = AsText(testsupport::StoredForm(keptContent, compress));
        ServeBoth(cache, "files\\" + path, kept);
        ScriptedResponse fresh;
        fresh.body = AsText(testsupport::StoredForm(freshContent, compress));
        ServeBoth(cache, "files\\" + path + "?release=2", fresh);
      }
    }
    for (const auto& [target, tree] : c.served) {
      ScriptedResponse response;
      const std::string name = target.substr(1, target.find('?') - 1);
      response.body = bytesOf(tree, name.c_str());
      cache.Serve(target, response);
    }
    MakeMirrors({cache.port()});
    ASSERT_TRUE(set_->WriteLocalVersion(1).written());
    const std::size_t logFrom = LogText().size();
    const ServerVersion version = set_->FetchServerVersion(Context());
    ASSERT_EQ(version.version, c.release == 0 ? 2 : c.release) << LogText().substr(logFrom);
    const ListResult list = set_->GetList(Context(), 1, version.version);
    const std::string log = LogText().substr(logFrom);
    if (c.release == 0) {
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
      EXPECT_FALSE(list.loaded()) << log;
      EXPECT_EQ(list.outcome, ListResult::Outcome::kFetchFailed) << "a server error, not a signature's";
      EXPECT_FALSE(AskedFor(cache, "files")) << "nothing of the stale list was fetched";
      continue;
    }
    ASSERT_TRUE(list.loaded()) << log;
    EXPECT_EQ(list.version, c.release);
    EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText().substr(logFrom);
    ExpectTheRelease();
    EXPECT_NE(LogText().find(c.logged, logFrom), std::string::npos) << LogText().substr(logFrom);
  }
}

}  // namespace
