// The engine against a real server: nginx (started by with_nginx.sh) serving a tree the
// tests write, and the scripted server where a transfer has to break off.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "engine/engine_fixture.h"
#include "engine/scripted_release.h"
#include "engine/server_tree.h"
#include "formats/chunk_index.h"
#include "formats/content_chunker.h"
#include "formats/release_manifest.h"
#include "formats/release_signature.h"
#include "formats/update_package.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/file_bytes.h"
#include "support/nginx_server.h"
#include "support/scripted_http_server.h"
#include "support/wait_until.h"

#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

namespace {

using testsupport::ListedFile;

class EngineServerTest : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    std::string why;
    ASSERT_TRUE(testsupport::NginxFromEnvironment(&nginx_, &why)) << why;
    tree_ = std::make_unique<testsupport::ServerTree>(std::filesystem::path(nginx_.root));
    tree_->Clear();
    logStart_ = testsupport::ReadAccessLog(nginx_).size();
    MakeSet(u"127.0.0.1", nginx_.port);
    ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  }
  void TearDown() override {
    ClientFixture::TearDown();
    if (tree_ != nullptr) tree_->Clear();
  }

  // This test's requests as "connection path", every "\\" as "/", once there are `count`.
  std::vector<std::string> Requests(std::size_t count) const {
    const std::vector<testsupport::AccessLogLine> lines = testsupport::WaitForAccessLog(nginx_, logStart_ + count);
    std::vector<std::string> requests;
    for (std::size_t i = logStart_; i < lines.size(); ++i)
      requests.push_back(lines[i].connection + " " + testsupport::ServedPath(lines[i].target));
    return requests;
  }
  static std::string PathOf(const std::string& request) { return request.substr(request.find(' ') + 1); }
  static std::string ConnectionOf(const std::string& request) { return request.substr(0, request.find(' ')); }

  testsupport::NginxServer nginx_;
  std::unique_ptr<testsupport::ServerTree> tree_;
  std::size_t logStart_ = 0;
};

TEST_F(EngineServerTest, UpdatesByChangeListAndFetchesOnlyWhatDiffers) {
  PutArchived(u"configs", u"configs\\same.cfg", "unchanged");
  PutArchived(u"textures", u"textures\\old.dds", "to be removed");
  PutArchived(u"models", u"models\\a.ski", "old model");
  PutClientFile("old.txt", "to be removed");
  ASSERT_TRUE(set_->WriteLocalVersion(17).written());
  tree_->PutText(u"version", "20\r\n");
  const std::vector<ListedFile> files = {
      {u"models\\a.ski", std::string(3000, 'm') + "new model"},
      {u"modelsX\\b.ski", "raw bytes", false},
      {u"help\\readme.txt", std::string(2000, 'r')},
      {u"data\\raw bin.dat", "plain raw", false},
      {u"textures\\old.dds", "", true, true},
      {u"old.txt", "", true, true},
      {u"missing.txt", "", true, true},
      {u"configs\\same.cfg", "unchanged"},
  };
  tree_->PutChangeList(3, files);

  const int32_t server = set_->FetchServerVersion(Context()).version;
  ASSERT_EQ(server, 20);
  ASSERT_EQ(set_->GetList(Context(), set_->ReadLocalVersion(), server).version, 20);
  EXPECT_EQ(progress_.Read().itemsTotal, 8);
  ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
  EXPECT_EQ(progress_.Read().itemsDone, 8);
  EXPECT_EQ(progress_.Read().itemsTotal, 8);
  EXPECT_TRUE(set_->fileTable().empty());
  EXPECT_FALSE(set_->busy());

  EXPECT_EQ(Archived(u"models", u"models\\a.ski"), files[0].content);
  EXPECT_EQ(Archived(u"models", u"modelsX\\b.ski"), "raw bytes");
  EXPECT_EQ(Archived(u"textures", u"textures\\old.dds"), "<absent>");
  EXPECT_EQ(ClientFileText("help/readme.txt"), files[2].content) << "help alone is no archive";
  EXPECT_EQ(ClientFileText("data/raw bin.dat"), "plain raw");
  EXPECT_EQ(ClientFileText("old.txt"), "<absent>");

  std::vector<std::string> paths;
  for (const std::string& request : Requests(7)) paths.push_back(PathOf(request));
  std::sort(paths.begin() + 3, paths.end());
  // The release manifest is optional: this server has none.
  EXPECT_EQ(paths, (std::vector<std::string>{"/version", "/release.manifest", "/list_3", "/files/data/raw%20bin.dat",
                                             "/files/help/readme.txt", "/files/models/a.ski", "/files/modelsX/b.ski"}));

  ASSERT_TRUE(set_->WriteLocalVersion(server).written());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  MakeSet(u"127.0.0.1", nginx_.port);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  EXPECT_EQ(set_->ReadLocalVersion(), 20);
  EXPECT_EQ(Archived(u"models", u"models\\a.ski"), files[0].content);
  EXPECT_EQ(Archived(u"textures", u"textures\\old.dds"), "<absent>");
}

TEST_F(EngineServerTest, ServerResourcesAndTheirFailures) {
  const ServerVersion missing = set_->FetchServerVersion(Context());
  EXPECT_EQ(missing.outcome, ServerVersion::Outcome::kFailed);
  // The cause names the request: the server, the resource, the answer.
  EXPECT_EQ(missing.request.host, u"127.0.0.1");
  EXPECT_EQ(missing.request.port, nginx_.port);
  EXPECT_EQ(missing.request.resource, u"version");
  EXPECT_EQ(missing.request.failure, FetchFailure::kHttpStatus);
  EXPECT_EQ(missing.request.status, 404u);
  EXPECT_NE(LogText().find("ERROR: Can't load file from server: version\n\r\n"), std::string::npos);
  // What comes must be a release number, alone but for white space: a captive portal's
  // page, compressed bytes or 0 are no version of any client.
  const struct {
    std::string text;
    int32_t version;  // 0: refused
  } answers[] = {
      {"7", 7},
      {" 7\r\n", 7},
      {std::string(2500, ' ') + "100000000", 100000000},
      {"", 0},
      {"0", 0},
      {"-3", 0},
      {"+3", 0},
      {"12abc", 0},
      {"1 2", 0},
      {"100000001", 0},
      {"99999999999999999999", 0},
      {"<html><body>Please log in to the hotel network</body></html>", 0},
      {std::string("\x1f\x8b\x08\x00", 4), 0},
  };
  for (const auto& answer : answers) {
    tree_->PutText(u"version", answer.text);
    const ServerVersion version = set_->FetchServerVersion(Context());
    if (answer.version > 0) {
      EXPECT_EQ(version.outcome, ServerVersion::Outcome::kFetched) << answer.text;
      EXPECT_EQ(version.version, answer.version) << answer.text;
    } else {
      EXPECT_EQ(version.outcome, ServerVersion::Outcome::kMalformed) << answer.text;
      EXPECT_EQ(version.received, PrintableStart(std::vector<uint8_t>(answer.text.begin(), answer.text.end())));
    }
  }
  EXPECT_NE(LogText().find("ERROR: The server's version is no release number: \"<html><body>Please log in"),
            std::string::npos)
      << LogText();

  const ListResult noList = set_->GetList(Context(), 17, 20);
  EXPECT_EQ(noList.outcome, ListResult::Outcome::kFetchFailed);
  EXPECT_EQ(noList.resource, u"list_3");
  EXPECT_EQ(noList.request.resource, u"list_3");
  EXPECT_NE(LogText().find("GetList receved(-1) != data.size(0)"), std::string::npos);
  tree_->PutText(u"list_3", "");
  EXPECT_EQ(set_->GetList(Context(), 17, 20).outcome, ListResult::Outcome::kEmpty);
  EXPECT_NE(LogText().find("GetList data.size == 0"), std::string::npos);
  tree_->PutText(u"list_3", "\x05");
  EXPECT_EQ(set_->GetList(Context(), 17, 20).outcome, ListResult::Outcome::kUnreadable);

  EXPECT_EQ(set_->GetFullList(Context(), 9).outcome, ListResult::Outcome::kFetchFailed);
  tree_->PutText(u"fulllist", "\x01\x02");
  EXPECT_EQ(set_->GetFullList(Context(), 9).outcome, ListResult::Outcome::kUnreadable);
  EXPECT_NE(LogText().find("GetFile data.size(2) < 4"), std::string::npos);
  tree_->Put(u"fulllist", {9, 0, 0, 0});
  EXPECT_EQ(set_->GetFullList(Context(), 9).outcome, ListResult::Outcome::kUnreadable);
  EXPECT_NE(LogText().find("ERROR: ReadList"), std::string::npos);
  // A full list of another release than the server's is refused: recorded, it would stay.
  tree_->PutFullList(99, {{u"a.txt", "a"}});
  const ListResult other = set_->GetFullList(Context(), 2);
  EXPECT_EQ(other.outcome, ListResult::Outcome::kOtherRelease);
  EXPECT_EQ(other.version, 99);
  EXPECT_NE(LogText().find("ERROR: The full list is of release 99, the server's version is 2"), std::string::npos);
  EXPECT_EQ(set_->GetFullList(Context(), 99).version, 99);

  const PatchChoice none = set_->server().FindPatchPackage(Context(), 17, 20);
  EXPECT_EQ(none.url, u"");
  EXPECT_EQ(none.request.resource, u"patches\\list");
  EXPECT_EQ(none.request.status, 404u);
  EXPECT_NE(LogText().find("Can't get file from server: patches\\list"), std::string::npos);
  tree_->PutText(u"patches\\list", "10 20 A\n15 20 B\n");
  const PatchChoice chosen = set_->server().FindPatchPackage(Context(), 17, 20);
  EXPECT_EQ(chosen.url, u"B");
  EXPECT_EQ(chosen.from, 15);
  EXPECT_EQ(chosen.to, 20);
}

TEST_F(EngineServerTest, FullCheckRepairsTheClient) {
  PutArchived(u"gfx", u"gfx\\damaged.tga", "garbage");
  PutClientFile("velkarclient.exe", "garbage");
  const std::vector<ListedFile> files = {
      {u"gfx\\damaged.tga", std::string(5000, 'g')},
      {u"velkarclient.exe", std::string(7000, 'e')},
      {u"interfaces\\new.xml", "<x/>", false},
  };
  tree_->PutFullList(42, files);
  ASSERT_EQ(set_->GetFullList(Context(), 42).version, 42);
  ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
  EXPECT_EQ(Archived(u"gfx", u"gfx\\damaged.tga"), files[0].content);
  EXPECT_EQ(ClientFileText("velkarclient.exe"), files[1].content);
  EXPECT_EQ(Archived(u"interfaces", u"interfaces\\new.xml"), "<x/>");

  // A second check of the repaired client fetches nothing.
  const std::size_t before = Requests(4).size();
  ASSERT_EQ(set_->GetFullList(Context(), 42).version, 42);
  ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone);
  EXPECT_EQ(Requests(before + 1).size(), before + 1) << "only the list itself";
}

TEST_F(EngineServerTest, FailedDownloadStopsTheRunAndResumeFinishesIt) {
  std::vector<ListedFile> files;
  for (int i = 0; i < 10; ++i) files.push_back({Wide(Numbered("f", i, ".txt")), Numbered("content ", i)});
  tree_->PutChangeList(1, files);
  std::filesystem::remove(std::filesystem::path(nginx_.root) / "files" / "f4.txt");
  std::filesystem::remove(std::filesystem::path(nginx_.root) / "files\\f4.txt");
  ASSERT_EQ(set_->GetList(Context(), 1, 2).version, 2);

  const CheckResult failed = set_->CheckFiles(Context(), false);
  EXPECT_EQ(failed.outcome, CheckResult::Outcome::kDownloadFailed);
  EXPECT_EQ(failed.path, u"f4.txt");
  EXPECT_EQ(failed.request.resource, u"files\\f4.txt");
  EXPECT_EQ(failed.request.status, 404u);
  EXPECT_NE(LogText().find("ERROR: Can't get file from server: files\\f4.txt\r\n"), std::string::npos);
  EXPECT_EQ(set_->fileTable().count(u"f4.txt"), 1u);
  EXPECT_EQ(progress_.Read().itemsDone + static_cast<int32_t>(set_->fileTable().size()), 10);
  EXPECT_FALSE(set_->busy());
  EXPECT_EQ(ClientFileText("f4.txt"), "<absent>");

  tree_->PutStoredFiles({files[4]});
  ASSERT_EQ(set_->CheckFiles(Context(), true).outcome, CheckResult::Outcome::kDone);
  EXPECT_EQ(progress_.Read().itemsDone, 10);
  EXPECT_EQ(progress_.Read().itemsTotal, 10);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(ClientFileText(Numbered("f", i, ".txt")), files[static_cast<std::size_t>(i)].content);
}

// The pass is held at its third file while the cancel comes: the two files before it
// were handled, each completely, and nothing after it.
TEST_F(EngineServerTest, CancelTakesEffectBetweenEntries) {
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  testsupport::ScriptedRelease release(server);
  std::vector<ListedFile> files;
  for (int i = 0; i < 30; ++i) files.push_back({Wide(Numbered("c", i, ".txt")), Numbered("text ", i)});
  const auto thirdFile = std::make_shared<testsupport::Gate>(2);
  release.ChangeList(1, files, thirdFile);
  MakeSet(u"127.0.0.1", server.port());
  // One download at a time: the third request is the third file's.
  set_->SetConnections(1);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_EQ(set_->GetList(Context(), 1, 2).version, 2);
  CancelToken token;
  std::thread canceller([&] {
    EXPECT_TRUE(thirdFile->WaitHolding(testsupport::kWaitLimit)) << "the pass never asked for a third file";
    token.Cancel();
  });
  const CheckResult result = set_->CheckFiles(Context(&token), false);
  canceller.join();
  EXPECT_EQ(result.outcome, CheckResult::Outcome::kCancelled);
  EXPECT_EQ(set_->fileTable().size(), files.size() - 2) << "the held file and those after it are left";
  EXPECT_EQ(progress_.Read().itemsDone, 2) << "a cancelled run counts what it handled";
  // Exactly the entries that left the table were handled, each completely.
  for (const ListedFile& file : files) {
    const std::string name(file.name.begin(), file.name.end());
    EXPECT_EQ(ClientFileText(name), set_->fileTable().count(file.name) ? "<absent>" : file.content) << name;
  }
}

// With several downloads at once the pass does what it does with one: the same outcome at
// each run (a file the server lacks, then one it serves damaged, then all there), the same
// log, the same client, and the same files asked for, only on several connections.
TEST_F(EngineServerTest, SeveralConnectionsDoWhatOneDoes) {
  std::vector<ListedFile> files;
  for (int i = 0; i < 48; ++i) {
    const std::string content = Numbered("content of ", i) + std::string(static_cast<std::size_t>(i) * 300, 'c');
    if (i % 4 == 0) {
      files.push_back({Wide(Numbered("models\\m", i, ".ski")), content, i % 8 == 0});
    } else if (i % 4 == 1) {
      files.push_back({Wide(Numbered("data\\p", i, ".txt")), content});
    } else if (i % 4 == 2) {
      files.push_back({Wide(Numbered("gone", i, ".txt")), "", true, true});
    } else {
      files.push_back({Wide(Numbered("same", i, ".txt")), Numbered("same ", i)});
    }
  }
  auto prepare = [&] {
    set_.reset();
    std::filesystem::remove_all(temp_ / "velkar");
    MakeSet(u"127.0.0.1", nginx_.port);
    ASSERT_TRUE(set_->OpenArchives({}).allOpen());
    for (int i = 2; i < 48; i += 4) PutClientFile(Numbered("gone", i, ".txt"), "old");
    for (int i = 3; i < 48; i += 4) PutClientFile(Numbered("same", i, ".txt"), Numbered("same ", i));
    tree_->Clear();
    tree_->PutChangeList(1, files);
    std::filesystem::remove(std::filesystem::path(nginx_.root) / "files" / "data" / "p17.txt");
    std::filesystem::remove(std::filesystem::path(nginx_.root) / "files\\data\\p17.txt");
    tree_->Put(u"files\\models\\m36.ski", {'d', 'a', 'm', 'a', 'g', 'e', 'd'});
  };
  struct Round {
    std::vector<std::string> outcomes;
    std::string log;
    std::set<std::string> paths;
    std::set<std::string> connections;
    std::map<std::string, std::string> client;
  };
  auto run = [&](int connections) {
    Round round;
    prepare();
    set_->SetConnections(connections);
    const std::size_t logFrom = LogText().size();
    logStart_ = testsupport::ReadAccessLog(nginx_).size();
    EXPECT_EQ(set_->GetList(Context(), 1, 2).version, 2);
    for (int attempt = 0; attempt < 3; ++attempt) {
      const CheckResult result = set_->CheckFiles(Context(), attempt > 0);
      round.outcomes.push_back(std::to_string(static_cast<int>(result.outcome)) + " " +
                               platform::Utf8FromUtf16(result.path) + " " + std::to_string(result.request.status));
      // The server mends the file the run stopped at.
      for (const ListedFile& file : files)
        if (file.name == result.path) tree_->PutStoredFiles({file});
    }
    // The log without its time stamps.
    std::istringstream lines(LogText().substr(logFrom));
    for (std::string line; std::getline(lines, line);) round.log += line.substr(line.find(']') + 1) + "\n";
    const std::vector<testsupport::AccessLogLine> access = testsupport::ReadAccessLog(nginx_);
    for (std::size_t i = logStart_; i < access.size(); ++i) {
      round.paths.insert(testsupport::ServedPath(access[i].target));
      if (access[i].target.find("files") != std::string::npos) round.connections.insert(access[i].connection);
    }
    for (const ListedFile& file : files) {
      std::string name = platform::Utf8FromUtf16(file.name);
      std::replace(name.begin(), name.end(), '\\', '/');
      round.client[name] = name.rfind("models/", 0) == 0 ? Archived(u"models", file.name) : ClientFileText(name);
    }
    return round;
  };
  const Round one = run(1);
  const Round four = run(4);
  ASSERT_EQ(one.outcomes.size(), 3u);
  // The first two runs stop at the file the server lacks and at the damaged one, in the
  // table's order; the third finishes.
  EXPECT_EQ(std::set<std::string>(one.outcomes.begin(), one.outcomes.begin() + 2),
            (std::set<std::string>{"2 data\\p17.txt 404", "2 models\\m36.ski 0"}));
  EXPECT_EQ(one.outcomes[2], "0  0");
  EXPECT_EQ(four.outcomes, one.outcomes);
  EXPECT_EQ(four.log, one.log);
  EXPECT_NE(one.log.find("Can't get file from server: files\\data\\p17.txt"), std::string::npos) << one.log;
  EXPECT_EQ(four.paths, one.paths);
  EXPECT_EQ(four.client, one.client);
  for (const ListedFile& file : files) {
    std::string name = platform::Utf8FromUtf16(file.name);
    std::replace(name.begin(), name.end(), '\\', '/');
    EXPECT_EQ(one.client.at(name), file.remove ? "<absent>" : file.content) << name;
  }
  EXPECT_EQ(one.connections.size(), 1u);
  EXPECT_GT(four.connections.size(), 1u) << "the downloads went on one connection";
  EXPECT_LE(four.connections.size(), 4u * 3) << "at most four connections in each of three runs";
}

// At most N downloads are in flight at once, and a cancel ends the pass while they are.
TEST_F(EngineServerTest, DownloadsInFlightAreBoundedAndACancelEndsThemAll) {
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  testsupport::ScriptedRelease release(server);
  std::vector<ListedFile> files;
  for (int i = 0; i < 30; ++i) files.push_back({Wide(Numbered("h", i, ".txt")), Numbered("held ", i)});
  const auto held = std::make_shared<testsupport::Gate>();
  release.ChangeList(1, files, held);
  MakeSet(u"127.0.0.1", server.port());
  set_->SetConnections(4);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_EQ(set_->GetList(Context(), 1, 2).version, 2);
  CancelToken token;
  std::chrono::steady_clock::time_point cancelledAt;
  std::thread canceller([&] {
    EXPECT_TRUE(testsupport::WaitUntil([&] { return held->arrivals() >= 4; }, testsupport::kWaitLimit))
        << "four downloads never started; " << held->arrivals() << " did";
    // Time for a fifth to start, were the bound not kept.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(held->arrivals(), 4) << "more than four downloads at once";
    cancelledAt = std::chrono::steady_clock::now();
    token.Cancel();
  });
  const std::size_t logFrom = LogText().size();
  const CheckResult result = set_->CheckFiles(Context(&token), false);
  const auto took = std::chrono::steady_clock::now() - cancelledAt;
  canceller.join();
  held->Open();
  EXPECT_EQ(result.outcome, CheckResult::Outcome::kCancelled);
  EXPECT_LT(took, std::chrono::seconds(3)) << "the cancel waited for the downloads in flight";
  EXPECT_EQ(set_->fileTable().size(), files.size()) << "no entry was handled";
  EXPECT_EQ(progress_.Read().itemsDone, 0);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(ClientFileText(Numbered("h", i, ".txt")), "<absent>");
  EXPECT_EQ(LogText().find("ERROR", logFrom), std::string::npos) << LogText().substr(logFrom);
}

// Answers without a length (chunked through a proxy or CDN) carry a whole release.
TEST_F(EngineServerTest, ChunkedAnswersCarryAWholeUpdate) {
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  testsupport::ScriptedRelease release(server, true);
  release.Version(2);
  const std::vector<ListedFile> files = {{u"a.txt", std::string(70000, 'a')}, {u"models\\b.ski", "model", false}};
  release.ChangeList(1, files);
  MakeSet(u"127.0.0.1", server.port());
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  const ServerVersion version = set_->FetchServerVersion(Context());
  ASSERT_EQ(version.version, 2) << LogText();
  ASSERT_EQ(set_->GetList(Context(), 1, 2).version, 2) << LogText();
  ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
  EXPECT_EQ(ClientFileText("a.txt"), files[0].content);
  EXPECT_EQ(Archived(u"models", u"models\\b.ski"), "model");
}

// A cancel that came before the pass began is not lost: no entry is handled.
TEST_F(EngineServerTest, CancelThatCameBeforeThePassIsKept) {
  std::vector<ListedFile> files;
  for (int i = 0; i < 10; ++i) files.push_back({Wide(Numbered("k", i, ".txt")), Numbered("text ", i)});
  tree_->PutChangeList(1, files);
  ASSERT_EQ(set_->GetList(Context(), 1, 2).version, 2);
  CancelToken token;
  token.Cancel();
  for (bool resume : {false, true}) {
    EXPECT_EQ(set_->CheckFiles(Context(&token), resume).outcome, CheckResult::Outcome::kCancelled);
    EXPECT_EQ(set_->fileTable().size(), 10u) << "no entry was handled";
    EXPECT_FALSE(set_->busy());
  }
  EXPECT_EQ(Requests(1).size(), 1u) << "only the list was fetched";
  EXPECT_EQ(ClientFileText("k0.txt"), "<absent>");
}

// The window that closes while start-up still runs cancels its version request: no error
// of the server's is logged for it.
TEST_F(EngineServerTest, CancelledVersionRequestLogsNoError) {
  tree_->PutText(u"version", "20");
  CancelToken token;
  token.Cancel();
  const std::size_t logged = LogText().size();
  EXPECT_EQ(set_->FetchServerVersion(Context(&token)).outcome, ServerVersion::Outcome::kCancelled);
  EXPECT_EQ(LogText().find("ERROR", logged), std::string::npos) << LogText().substr(logged);
  EXPECT_EQ(set_->FetchServerVersion(Context()).version, 20);
}

TEST_F(EngineServerTest, RefusedPathsNeverLeaveTheClientFolder) {
  for (const std::u16string& bad : {std::u16string(u"..\\evil.txt"), std::u16string(u"models\\..\\..\\evil.txt"),
                                    std::u16string(u"../evil.txt"), std::u16string(u"\\evil.txt")}) {
    set_->SetFileTable({{bad, FileInfo{testsupport::Md5Of("x"), 1, 1}}});
    EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kBadPath)
        << std::string(bad.begin(), bad.end());
    EXPECT_EQ(set_->fileTable().size(), 1u);
    set_->SetFileTable({{bad, FileInfo{{}, kDeleteSize, 0}}});
    EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kBadPath);
  }
  EXPECT_NE(LogText().find("ERROR: Bad file name in list: ..\\evil.txt"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(temp_ / "evil.txt"));
  EXPECT_TRUE(Requests(0).empty()) << "nothing was requested";
}

// Entries that name an archive's own files, in every spelling a file system could take
// for one, are refused and reported; the archives stay exactly as they were.
TEST_F(EngineServerTest, EntriesNamingAnArchiveFileAreRefused) {
  PutArchived(u"help\\script", u"help\\script\\a.lua", "script");
  PutArchived(u"configs", u"configs\\c.cfg", "config");
  ASSERT_TRUE(set_->WriteLocalVersion(4).written());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  const std::u16string spellings[] = {u"help/script.pck", u"HELP\\SCRIPT.PCK", u"Help/Script.pkx",  u"configs.pck.",
                                      u"CONFIGS.PCK ",    u"configs.PKX",      u"help//script.pck", u"gfx.pck"};
  for (const std::u16string& spelling : spellings) {
    const std::string shown = platform::Utf8FromUtf16(spelling);
    for (const FileInfo& info : {FileInfo{{}, kDeleteSize, 0}, FileInfo{testsupport::Md5Of("x"), 1, 1}}) {
      set_->SetFileTable({{spelling, info}});
      EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kBadPath) << shown;
      EXPECT_EQ(set_->fileTable().size(), 1u) << shown;
    }
    WriteWholeFile(temp_ / "pkg.cup", testsupport::PackageBytes(0, 5, {{u"ok.txt", "ok"}, {spelling, "", true, true}}));
    EXPECT_EQ(set_->ApplyPackage(Context(), temp_.U16("pkg.cup")).outcome, ApplyResult::Outcome::kDamaged) << shown;
  }
  const std::string log = LogText();
  EXPECT_NE(log.find("ERROR: Bad file name in list: help/script.pck"), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR: Bad file name in list: CONFIGS.PCK "), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR: Bad file name in package: Help/Script.pkx"), std::string::npos) << log;
  EXPECT_EQ(ClientFileText("ok.txt"), "<absent>");
  EXPECT_TRUE(Requests(0).empty()) << "nothing was requested";

  // Reopened from disk: every archive opens as it was saved.
  MakeSet(u"127.0.0.1", nginx_.port);
  const std::size_t logged = LogText().size();
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  EXPECT_EQ(LogText().find("Can't open package", logged), std::string::npos) << LogText().substr(logged);
  EXPECT_EQ(Archived(u"help\\script", u"help\\script\\a.lua"), "script");
  EXPECT_EQ(Archived(u"configs", u"configs\\c.cfg"), "config");
  EXPECT_EQ(set_->ReadLocalVersion(), 4);
}

// "/" between folders reaches the same archive entries as "\".
TEST_F(EngineServerTest, SlashSeparatedNamesReachTheirArchiveEntries) {
  PutArchived(u"models", u"models\\same.ski", "same");
  PutArchived(u"models", u"models\\gone.ski", "gone");
  PutArchived(u"help\\script", u"help\\script\\gone.lua", "gone");
  set_->SetFileTable({{u"models/same.ski", FileInfo{testsupport::Md5Of("same"), 4, 4}},
                      {u"models/gone.ski", FileInfo{{}, kDeleteSize, 0}},
                      {u"help/script/gone.lua", FileInfo{{}, kDeleteSize, 0}}});
  ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
  EXPECT_EQ(Archived(u"models", u"models\\same.ski"), "same");
  EXPECT_EQ(Archived(u"models", u"models\\gone.ski"), "<absent>");
  EXPECT_EQ(Archived(u"help\\script", u"help\\script\\gone.lua"), "<absent>");
  EXPECT_TRUE(Requests(0).empty()) << "the entry with the listed digest was found";

  WriteWholeFile(temp_ / "pkg.cup", testsupport::PackageBytes(0, 5, {{u"help/script/new.lua", "new"}}));
  ASSERT_EQ(set_->ApplyPackage(Context(), temp_.U16("pkg.cup")).outcome, ApplyResult::Outcome::kApplied) << LogText();
  EXPECT_EQ(Archived(u"help\\script", u"help\\script\\new.lua"), "new");
  EXPECT_EQ(
      TavrinFilePackage::NameOf(*set_->archives().Find(u"help\\script")->FindEntry(u"help\\script\\new.lua", false)),
      u"help\\script\\new.lua");
  EXPECT_FALSE(std::filesystem::exists(ClientFile("help/script")));
}

// Folders for a listed name are made only for content that is right, and a name longer
// than any the client can hold makes none at all.
TEST_F(EngineServerTest, NamesCreateFoldersOnlyForVerifiedContent) {
  std::u16string deep;
  for (int i = 0; i < 3000; ++i) deep += u"d\\";
  deep += u"f.txt";
  set_->SetFileTable({{deep, FileInfo{testsupport::Md5Of("x"), 1, 1}}});
  EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kBadPath);
  EXPECT_NE(LogText().find("ERROR: Bad file name in list: d\\d\\d"), std::string::npos);

  tree_->Put(u"files\\x\\y\\z.txt", {'w', 'r', 'o', 'n', 'g'});
  set_->SetFileTable({{u"x\\y\\z.txt", FileInfo{testsupport::Md5Of("right"), 5, 5}}});
  EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDownloadFailed);
  WriteWholeFile(temp_ / "pkg.cup", testsupport::PackageBytes(0, 5, {{u"p\\q\\r.txt", "package"}}));
  std::vector<uint8_t> damaged = ReadWholeFile(temp_ / "pkg.cup");
  damaged[12] ^= 0x01;
  WriteWholeFile(temp_ / "pkg.cup", damaged);
  EXPECT_EQ(set_->ApplyPackage(Context(), temp_.U16("pkg.cup")).outcome, ApplyResult::Outcome::kDamaged);
  std::vector<std::string> created;
  for (const auto& item : std::filesystem::directory_iterator(temp_ / "velkar"))
    if (item.is_directory()) created.push_back(item.path().filename().string());
  EXPECT_EQ(created, std::vector<std::string>{"help"}) << "only the folder of the archive help\\script";

  // The same name with the right content gets its folders, and no temporary file stays.
  tree_->Put(u"files\\x\\y\\z.txt", {'r', 'i', 'g', 'h', 't'});
  ASSERT_EQ(set_->CheckFiles(Context(), true).outcome, CheckResult::Outcome::kDone) << LogText();
  EXPECT_EQ(ClientFileText("x/y/z.txt"), "right");
  std::vector<std::string> inFolder;
  for (const auto& item : std::filesystem::directory_iterator(ClientFile("x/y")))
    inFolder.push_back(item.path().filename().string());
  EXPECT_EQ(inFolder, std::vector<std::string>{"z.txt"});
}

TEST_F(EngineServerTest, DownloadsThatDoNotMatchTheListAreNeverStored) {
  // Each listed file's stored form on the server is wrong in its own way.
  const std::string content(4000, 'z');
  const std::vector<uint8_t> packed = testsupport::StoredForm(content, true);
  std::vector<uint8_t> broken = packed;
  broken[broken.size() / 2] ^= 0xFF;
  const struct {
    const char* what;
    std::u16string name;
    FileInfo info;
    std::vector<uint8_t> served;
  } cases[] = {
      {"other content, archive", u"models\\m.ski", {testsupport::Md5Of("right"), 5, 5}, {'w', 'r', 'o', 'n', 'g'}},
      {"other content, plain", u"p.txt", {testsupport::Md5Of("right"), 5, 5}, {'w', 'r', 'o', 'n', 'g'}},
      {"damaged zlib, plain", u"z.txt", {testsupport::Md5Of(content), 4000, uint32_t(packed.size())}, broken},
      {"damaged zlib, archive", u"sfx\\z.wav", {testsupport::Md5Of(content), 4000, uint32_t(packed.size())}, broken},
      {"inflates short", u"s.txt", {testsupport::Md5Of(content + "x"), 4001, uint32_t(packed.size())}, packed},
      {"raw of another size", u"r.txt", {testsupport::Md5Of("abc"), 3, 3}, {'a', 'b', 'c', 'd'}},
  };
  for (const auto& c : cases) {
    tree_->Put(u"files\\" + c.name, c.served);
    set_->SetFileTable({{c.name, c.info}});
    EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDownloadFailed) << c.what;
    EXPECT_EQ(set_->fileTable().size(), 1u) << c.what;
  }
  EXPECT_EQ(Archived(u"models", u"models\\m.ski"), "<absent>");
  EXPECT_EQ(Archived(u"sfx", u"sfx\\z.wav"), "<absent>");
  for (const char* plain : {"p.txt", "z.txt", "s.txt", "r.txt"}) EXPECT_EQ(ClientFileText(plain), "<absent>") << plain;
  EXPECT_NE(LogText().find("ERROR: Can't get file from server: files\\p.txt"), std::string::npos);
}

// Every request of an update against a server that takes the connection and then says
// nothing fails within its bound (short here), and the log names the resource.
TEST_F(EngineServerTest, StalledServerFailsEachStepWithinItsBound) {
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  MakeSet(u"127.0.0.1", server.port());
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  platform::HttpLimits limits;
  limits.connectTimeout = std::chrono::seconds(1);
  limits.lowSpeedTime = std::chrono::seconds(1);
  set_->server().client().SetLimits(limits);
  testsupport::ScriptedResponse silent;
  silent.neverAnswer = true;
  // WinINet sends every "\\" as "/".
  for (const char* target : {"/version", "/list_2", "/fulllist", "/patches\\list", "/patches/list",
                             "/files\\models\\a.ski", "/files/models/a.ski"})
    server.Serve(target, silent);
  set_->SetFileTable({{u"models\\a.ski", FileInfo{testsupport::Md5Of("x"), 1, 1}}});
  const struct {
    const char* resource;
    std::function<bool()> failed;
  } steps[] = {
      {"version", [&] { return set_->FetchServerVersion(Context()).outcome == ServerVersion::Outcome::kFailed; }},
      {"list_2", [&] { return set_->GetList(Context(), 5, 7).outcome == ListResult::Outcome::kFetchFailed; }},
      {"fulllist", [&] { return set_->GetFullList(Context(), 7).outcome == ListResult::Outcome::kFetchFailed; }},
      {"patches\\list", [&] { return !set_->DownloadPatchPackage(Context(), 5, 7).downloaded(); }},
      {"files\\models\\a.ski",
       [&] { return set_->CheckFiles(Context(), false).outcome == CheckResult::Outcome::kDownloadFailed; }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.resource);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(step.failed());
    // About a second each; far longer if a wait had no end.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 15.0);
    EXPECT_FALSE(set_->busy());
    EXPECT_NE(LogText().find(std::string("ERROR: Can't fetch ") + step.resource +
                             " from 127.0.0.1:" + std::to_string(server.port()) + ": timed out"),
              std::string::npos)
        << LogText();
  }
}

// Each small resource has a bound of its own, checked before anything is allocated: a
// version or a patch list that declares far more than it can hold is refused at once.
TEST_F(EngineServerTest, SmallResourcesDeclaringTooMuchAreRefusedAtOnce) {
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  MakeSet(u"127.0.0.1", server.port());
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  testsupport::ScriptedResponse huge;
  huge.declaredLength = 500000000;
  huge.body = "5\r\n------";
  for (const char* target : {"/version", "/patcher_version_new", "/patches\\list", "/patches/list"})
    server.Serve(target, huge);
  const ServerVersion version = set_->FetchServerVersion(Context());
  EXPECT_EQ(version.outcome, ServerVersion::Outcome::kFailed);
  EXPECT_EQ(version.request.failure, FetchFailure::kTooLarge);
  EXPECT_EQ(set_->server().FindPatchPackage(Context(), 4, 5).request.failure, FetchFailure::kTooLarge);
  EXPECT_EQ(set_->server().FetchPatcherVersion(Context()), -1);
  // A file's stored form is its content or shorter: the list bounds it.
  for (const char* target : {"/files\\models\\a.ski", "/files/models/a.ski"}) server.Serve(target, huge);
  set_->SetFileTable({{u"models\\a.ski", FileInfo{testsupport::Md5Of("five!"), 5, 5}}});
  const CheckResult checked = set_->CheckFiles(Context(), false);
  EXPECT_EQ(checked.outcome, CheckResult::Outcome::kDownloadFailed);
  EXPECT_EQ(checked.request.failure, FetchFailure::kTooLarge);
  EXPECT_EQ(progress_.Read().bytesReceived, 0u) << "no body was read";
}

// A listed plain file named like a temporary file is a file like any other: writing a
// neighbour never goes through its name, and the pass leaves every listed file as listed.
TEST_F(EngineServerTest, ListedNamesNeverMeetTemporaryFiles) {
  PutClientFile("note.txt", "old note");
  PutClientFile("note.txt.~part", "a listed file");
  const std::vector<ListedFile> files = {{u"note.txt", "new note"}, {u"note.txt.~part", "a listed file"}};
  tree_->PutChangeList(1, files);
  ASSERT_TRUE(set_->GetList(Context(), 1, 2).loaded());
  ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
  EXPECT_EQ(ClientFileText("note.txt"), "new note");
  EXPECT_EQ(ClientFileText("note.txt.~part"), "a listed file");
  // A package applies its records in its own order: the one already right first.
  WriteWholeFile(temp_ / "pkg.cup",
                 testsupport::PackageBytes(0, 5, {{u"note.txt.~part", "a listed file"}, {u"note.txt", "newer note"}}));
  ASSERT_EQ(set_->ApplyPackage(Context(), temp_.U16("pkg.cup")).outcome, ApplyResult::Outcome::kApplied) << LogText();
  EXPECT_EQ(ClientFileText("note.txt"), "newer note");
  EXPECT_EQ(ClientFileText("note.txt.~part"), "a listed file");
}

// Two entries that reach one file with two contents cannot both be as listed: the pass says
// so instead of ending done with one of them wrong; so does a package.
TEST_F(EngineServerTest, AListNamingOneFileTwiceIsRefused) {
  for (const std::u16string& other : {std::u16string(u"NOTE.TXT"), std::u16string(u"models/A.ski")}) {
    const std::u16string first = other == u"NOTE.TXT" ? u"note.txt" : u"models\\a.ski";
    set_->SetFileTable(
        {{first, FileInfo{testsupport::Md5Of("one"), 3, 3}}, {other, FileInfo{testsupport::Md5Of("two"), 3, 3}}});
    const CheckResult checked = set_->CheckFiles(Context(), false);
    EXPECT_EQ(checked.outcome, CheckResult::Outcome::kConflict) << platform::Utf8FromUtf16(other);
    WriteWholeFile(temp_ / "pkg.cup", testsupport::PackageBytes(0, 5, {{first, "one"}, {other, "two"}}));
    EXPECT_EQ(set_->ApplyPackage(Context(), temp_.U16("pkg.cup")).outcome, ApplyResult::Outcome::kDamaged);
  }
  EXPECT_NE(LogText().find("ERROR: The list names one file twice: "), std::string::npos) << LogText();
  EXPECT_EQ(ClientFileText("note.txt"), "<absent>");
  EXPECT_TRUE(Requests(0).empty()) << "nothing was fetched";
  // A deletion beside content in a list, whose order is not kept, is one too.
  set_->SetFileTable(
      {{u"gone.txt", FileInfo{{}, kDeleteSize, 0}}, {u"GONE.TXT", FileInfo{testsupport::Md5Of("x"), 1, 1}}});
  EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kConflict);
  // The same content twice is no contradiction, nor is a package that deletes a name
  // before it writes the file under another spelling.
  set_->SetFileTable({{u"gone.txt", FileInfo{{}, kDeleteSize, 0}}, {u"GONE.TXT", FileInfo{{}, kDeleteSize, 0}}});
  EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone);
  WriteWholeFile(
      temp_ / "pkg.cup",
      testsupport::PackageBytes(0, 5, {{u"models\\Renamed.ski", "", true, true}, {u"models\\renamed.ski", "r"}}));
  EXPECT_EQ(set_->ApplyPackage(Context(), temp_.U16("pkg.cup")).outcome, ApplyResult::Outcome::kApplied) << LogText();
  EXPECT_EQ(Archived(u"models", u"models\\renamed.ski"), "r");
}

TEST_F(EngineServerTest, EntryOfAnArchiveThatIsNotOpenFails) {
  // gfx held by another program: it can be neither opened nor made afresh.
  set_->CloseArchives();
  platform::File holder;
  ASSERT_EQ(holder.Open((temp_ / "velkar" / "gfx.pck").u16string(), platform::FileMode::kReadWrite), 0);
  ASSERT_FALSE(set_->OpenArchives({}).allOpen());
  ASSERT_EQ(set_->archives().Find(u"gfx"), nullptr);
  set_->SetFileTable({{u"gfx\\a.tga", FileInfo{testsupport::Md5Of("a"), 1, 1}}});
  const CheckResult checked = set_->CheckFiles(Context(), false);
  EXPECT_EQ(checked.outcome, CheckResult::Outcome::kArchiveFailed);
  EXPECT_EQ(checked.path, u"gfx\\a.tga");
  EXPECT_EQ(checked.archive, u"gfx");
  EXPECT_EQ(checked.archiveResult, PackageResult::kNotOpen);
  set_->SetFileTable({{u"gfx\\a.tga", FileInfo{{}, kDeleteSize, 0}}});
  EXPECT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kArchiveFailed);
  EXPECT_NE(LogText().find("ERROR: GetPackage error"), std::string::npos);
}

class UpdatePackageTest : public EngineServerTest {
 protected:
  void WritePackage(const std::vector<uint8_t>& bytes) { WriteWholeFile(temp_ / "pkg.cup", bytes); }
  ApplyResult Apply(const CancelToken* cancel = nullptr) {
    return set_->ApplyPackage(Context(cancel), temp_.U16("pkg.cup"));
  }
#ifdef __linux__
  [[noreturn]] void DownloadOntoASmallDisk();
#endif
};

TEST_F(UpdatePackageTest, AppliesRecordsAndRecordsTheTargetVersion) {
  PutArchived(u"textures", u"textures\\gone.dds", "old");
  PutClientFile("gone.txt", "old");
  PutClientFile("same.txt", "same");
  ASSERT_TRUE(set_->WriteLocalVersion(5).written());
  const std::vector<ListedFile> files = {
      {u"models\\a.ski", std::string(2500, 'a')}, {u"trees\\raw.spt", "raw tree", false},
      {u"textures\\gone.dds", "", true, true},    {u"gone.txt", "", true, true},
      {u"bin\\new.dll", std::string(3000, 'd')},  {u"same.txt", "same"},
  };
  WritePackage(testsupport::PackageBytes(5, 9, files));
  // A file already right is not written again.
  const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
  std::filesystem::last_write_time(ClientFile("same.txt"), longAgo);
  // As the file system stores it.
  const auto before = std::filesystem::last_write_time(ClientFile("same.txt"));
  ASSERT_EQ(Apply().outcome, ApplyResult::Outcome::kApplied) << LogText();
  EXPECT_EQ(std::filesystem::last_write_time(ClientFile("same.txt")), before);
  EXPECT_EQ(progress_.Read().itemsTotal, 6);
  EXPECT_EQ(progress_.Read().itemsDone, 6);
  EXPECT_FALSE(set_->busy());
  EXPECT_EQ(Archived(u"models", u"models\\a.ski"), files[0].content);
  EXPECT_EQ(Archived(u"trees", u"trees\\raw.spt"), "raw tree");
  EXPECT_EQ(Archived(u"textures", u"textures\\gone.dds"), "<absent>");
  EXPECT_EQ(ClientFileText("gone.txt"), "<absent>");
  EXPECT_EQ(ClientFileText("bin/new.dll"), files[4].content);
  EXPECT_EQ(set_->ReadLocalVersion(), 9);
}

TEST_F(UpdatePackageTest, MinimumVersionRuleAndEmptyPackage) {
  ASSERT_TRUE(set_->WriteLocalVersion(5).written());
  WritePackage(testsupport::PackageBytes(6, 9, {{u"a.txt", "a"}}));
  EXPECT_EQ(Apply().outcome, ApplyResult::Outcome::kVersionTooLow);
  EXPECT_EQ(ClientFileText("a.txt"), "<absent>");
  EXPECT_EQ(set_->ReadLocalVersion(), 5);
  EXPECT_FALSE(set_->busy());

  WritePackage(testsupport::PackageBytes(5, 6, {}));
  EXPECT_EQ(Apply().outcome, ApplyResult::Outcome::kApplied);
  EXPECT_EQ(progress_.Read().itemsTotal, 1);
  EXPECT_EQ(set_->ReadLocalVersion(), 6);

  EXPECT_EQ(set_->ApplyPackage(Context(), temp_.U16("no such.cup")).outcome, ApplyResult::Outcome::kCannotOpen);
}

// A package applies only when it leads above the client, to a release there can be; otherwise
// it is refused before anything is written, with both versions named.
TEST_F(UpdatePackageTest, PackagesThatLeadNowhereNewerAreRefused) {
  PutClientFile("kept.txt", "since 1");
  ASSERT_TRUE(set_->WriteLocalVersion(2).written());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  for (const int32_t target : {1, 2, -1, 2147483647, 100000001}) {
    SCOPED_TRACE(target);
    WritePackage(testsupport::PackageBytes(0, target, {{u"kept.txt", "", true, true}, {u"new.txt", "new"}}));
    const ApplyResult refused = Apply();
    EXPECT_EQ(refused.outcome, ApplyResult::Outcome::kNotNewer);
    EXPECT_EQ(refused.targetVersion, target);
    EXPECT_EQ(refused.clientVersion, 2);
    EXPECT_EQ(ClientFileText("kept.txt"), "since 1");
    EXPECT_EQ(ClientFileText("new.txt"), "<absent>");
    EXPECT_EQ(set_->ReadLocalVersion(), 2);
  }
  EXPECT_NE(LogText().find("leads to version 1, the client is at 2: not applied"), std::string::npos) << LogText();
  // A package named for a pair of versions must lead where its line says.
  WritePackage(testsupport::PackageBytes(2, 4, {{u"new.txt", "new"}}));
  EXPECT_EQ(set_->ApplyPackage(Context(), temp_.U16("pkg.cup"), 3).outcome, ApplyResult::Outcome::kDamaged);
  EXPECT_EQ(ClientFileText("new.txt"), "<absent>");
  EXPECT_EQ(set_->ApplyPackage(Context(), temp_.U16("pkg.cup"), 4).outcome, ApplyResult::Outcome::kApplied);
  EXPECT_EQ(set_->ReadLocalVersion(), 4);
}

TEST_F(UpdatePackageTest, DamagedOrRefusedPackagesApplyNothing) {
  const std::vector<ListedFile> files = {{u"first.txt", "first"}, {u"second.txt", "second"}};
  const std::vector<uint8_t> good = testsupport::PackageBytes(0, 3, files);
  const uint32_t index = testsupport::PackageIndexOffset(good);
  std::vector<uint8_t> longName = good;
  const std::size_t second = index + 4 + 2 + 2 * 9 + 28;
  longName[second] = 0x04;  // 260 units
  longName[second + 1] = 0x01;
  std::vector<uint8_t> farData = good;
  farData[second + 2 + 2 * 10 + 24 + 3] ^= 0x40;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"name length 260", longName},
      {"data beyond the end", farData},
      {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 3)},
      {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 12)},
      {"shorter than the header", {1, 2, 3}},
      {"path leaving the client", testsupport::PackageBytes(0, 3, {{u"first.txt", "first"}, {u"..\\evil.txt", "x"}})},
  };
  for (const auto& c : cases) {
    WritePackage(c.bytes);
    EXPECT_EQ(Apply().outcome, ApplyResult::Outcome::kDamaged) << c.what;
    EXPECT_EQ(ClientFileText("first.txt"), "<absent>") << c.what;
    EXPECT_FALSE(set_->busy());
  }
  EXPECT_FALSE(std::filesystem::exists(temp_ / "evil.txt"));
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
  EXPECT_NE(LogText().find("ERROR: Damaged package: "), std::string::npos);
}

// Content damage anywhere is found before the first record is applied, whatever the
// record's kind and place.
TEST_F(UpdatePackageTest, DamagedContentIsFoundBeforeAnythingIsApplied) {
  ASSERT_TRUE(set_->WriteLocalVersion(1).written());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  const std::vector<ListedFile> files = {{u"ok.txt", "fine"},
                                         {u"models\\ok.ski", std::string(700, 'o')},
                                         {u"models\\last.ski", std::string(900, 'q')},
                                         {u"last.txt", std::string(800, 'l'), false}};
  const std::vector<uint8_t> good = testsupport::PackageBytes(0, 3, files);
  std::vector<PackageRecord> records;
  {
    MemoryPackageSource source(good.data(), good.size());
    PackageHeader header;
    ASSERT_TRUE(ReadPackageHeader(source, &header) && ReadPackageIndex(source, header, &records));
  }
  ASSERT_EQ(records.size(), 4u);
  // Rewrites one masked field of the record `index` (offsets after its name).
  const auto withField = [&](std::size_t index, std::size_t fieldOffset, uint32_t value, uint32_t mask) {
    std::vector<uint8_t> bytes = good;
    std::size_t at = testsupport::PackageIndexOffset(good) + 4;
    for (std::size_t i = 0; i < index; ++i) at += 2 + 2 * records[i].name.size() + 28;
    at += 2 + 2 * records[index].name.size() + fieldOffset;
    for (int i = 0; i < 4; ++i)
      bytes[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>((value ^ mask) >> (8 * i));
    return bytes;
  };
  std::vector<uint8_t> flipped = good;
  flipped[records[2].dataOffset + records[2].storedSize / 2] ^= 0x01;
  std::vector<uint8_t> flippedRaw = good;
  flippedRaw[records[3].dataOffset + 5] ^= 0x01;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"a flipped byte in the third record's stream", flipped},
      {"a flipped byte in the last record's raw bytes", flippedRaw},
      {"the third record pointing at the second's bytes", withField(2, 24, records[1].dataOffset, 0x19A8C65B)},
      {"the third record's size one byte short", withField(2, 16, records[2].size - 1, 0x2C95E3A8)},
      {"the last record's raw size one byte short", withField(3, 16, records[3].size - 1, 0x2C95E3A8)},
      {"the last record's stored size one byte short", withField(3, 20, records[3].storedSize - 1, 0x4F6B07D1)},
  };
  for (const auto& c : cases) {
    WritePackage(c.bytes);
    EXPECT_EQ(Apply().outcome, ApplyResult::Outcome::kDamaged) << c.what;
    EXPECT_EQ(ClientFileText("ok.txt"), "<absent>") << c.what;
    EXPECT_EQ(Archived(u"models", u"models\\ok.ski"), "<absent>") << c.what;
    EXPECT_FALSE(set_->archives().Find(u"models")->indexChanged()) << c.what;
    EXPECT_FALSE(set_->busy());
  }
  EXPECT_EQ(ClientFileText("last.txt"), "<absent>");
  EXPECT_EQ(set_->ReadLocalVersion(), 1);
  EXPECT_NE(LogText().find("ERROR: Package record does not match: models\\last.ski"), std::string::npos);
  EXPECT_NE(LogText().find("ERROR: Package record does not match: last.txt"), std::string::npos);

  // The undamaged package applies in full.
  WritePackage(good);
  ASSERT_EQ(Apply().outcome, ApplyResult::Outcome::kApplied) << LogText();
  EXPECT_EQ(ClientFileText("last.txt"), files[3].content);
  EXPECT_EQ(Archived(u"models", u"models\\last.ski"), files[2].content);
  EXPECT_EQ(set_->ReadLocalVersion(), 3);

  // models held by another program: it can be neither opened nor made afresh.
  ASSERT_TRUE(set_->SaveArchives({}).written());
  set_->CloseArchives();
  platform::File holder;
  ASSERT_EQ(holder.Open((temp_ / "velkar" / "models.pck").u16string(), platform::FileMode::kReadWrite), 0);
  ASSERT_FALSE(set_->OpenArchives({}).allOpen());
  WritePackage(testsupport::PackageBytes(0, 3, {{u"models\\a.ski", "a"}}));
  const ApplyResult applied = Apply();
  EXPECT_EQ(applied.outcome, ApplyResult::Outcome::kArchiveFailed);
  EXPECT_EQ(applied.archive, u"models");
  EXPECT_NE(LogText().find("ERROR: GetPackage error"), std::string::npos);
}

TEST_F(UpdatePackageTest, CancelledApplicationRecordsNoVersion) {
  ASSERT_TRUE(set_->WriteLocalVersion(2).written());
  std::vector<ListedFile> files;
  for (int i = 0; i < 300; ++i) files.push_back({Wide(Numbered("k", i, ".txt")), Numbered("k", i)});
  WritePackage(testsupport::PackageBytes(0, 8, files));
  CancelToken token;
  // Application reads from the disk alone, so nothing outside can hold it: the cancel
  // follows the first applied record as closely as a spinning thread can.
  std::thread canceller([&] {
    EXPECT_TRUE(testsupport::WaitUntil([&] { return progress_.Read().itemsDone >= 1; }, testsupport::kWaitLimit,
                                       std::chrono::milliseconds(0)))
        << "no record was applied";
    token.Cancel();
  });
  const ApplyResult result = Apply(&token);
  canceller.join();
  EXPECT_EQ(result.outcome, ApplyResult::Outcome::kCancelled);
  EXPECT_EQ(progress_.Read().itemsDone, progress_.Read().itemsTotal);
  EXPECT_EQ(ClientFileText("k299.txt"), "<absent>");
  EXPECT_EQ(set_->ReadLocalVersion(), 2);
}

TEST_F(UpdatePackageTest, CancelThatCameBeforeTheApplicationIsKept) {
  ASSERT_TRUE(set_->WriteLocalVersion(2).written());
  WritePackage(testsupport::PackageBytes(0, 8, {{u"early.txt", "early"}}));
  CancelToken token;
  token.Cancel();
  EXPECT_EQ(Apply(&token).outcome, ApplyResult::Outcome::kCancelled);
  EXPECT_FALSE(set_->busy());
  EXPECT_EQ(ClientFileText("early.txt"), "<absent>");
  EXPECT_EQ(set_->ReadLocalVersion(), 2);
}

// What an earlier run left of a package download is taken up only for the same package and
// the same body (the validator nginx gives it, its ETag); anything else starts over. Either way
// the file ends as the server's package, and the record beside it goes.
TEST_F(UpdatePackageTest, ADownloadAnEarlierRunLeftIsTakenUpOnlyForTheSameBody) {
  std::string big(300000, '\0');
  uint32_t seed = 1;
  for (char& c : big) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  const std::vector<uint8_t> package = testsupport::PackageBytes(0, 20, {{u"big.bin", big, false}});
  tree_->Put(u"packs\\p1.cup", package);
  tree_->PutText(u"version", "20");
  const std::string url = Numbered("http://127.0.0.1:", nginx_.port, "/packs/p1.cup");
  tree_->PutText(u"patches\\list", "15 20 " + url + "\n");
  // nginx's ETag: the file's modification time and size, in hexadecimal.
  const std::filesystem::path served = std::filesystem::path(nginx_.root) / "packs" / "p1.cup";
  struct stat status {};
  ASSERT_EQ(stat(served.string().c_str(), &status), 0);
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%lx-%lx\"", static_cast<unsigned long>(status.st_mtime),
                static_cast<unsigned long>(status.st_size));
  const auto packageFile = temp_ / "config" / "patcher" / "tempfile.dat";
  const auto recordFile = temp_ / "config" / "patcher" / "tempfile.dat.resume";
  const auto record = [&](const std::string& address, const std::string& validator) {
    return "solmere-package-resume 1\nurl " + address + "\nlength " + std::to_string(package.size()) + "\nvalidator " +
           validator + "\n";
  };
  struct Case {
    const char* what;
    std::string record;  // empty: none
    bool takenUp;
  };
  const std::vector<Case> cases = {
      {"the same body", record(url, etag), true},
      {"the package changed since", record(url, "\"5f00aaaa-1\""), false},
      {"another package", record(url + "?other", etag), false},
      {"no record", "", false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const std::vector<uint8_t> part(package.begin(), package.begin() + 100000);
    WriteWholeFile(packageFile, part);
    std::filesystem::remove(recordFile);
    if (!test.record.empty()) WriteWholeFile(recordFile, test.record);
    const std::size_t before = testsupport::ReadAccessLog(nginx_).size();
    ASSERT_TRUE(set_->DownloadPatchPackage(Context(), 17, 20).downloaded()) << LogText();
    EXPECT_EQ(ReadWholeFile(packageFile), package);
    EXPECT_FALSE(std::filesystem::exists(recordFile));
    const std::vector<testsupport::AccessLogLine> lines = testsupport::WaitForAccessLog(nginx_, before + 2);
    ASSERT_GE(lines.size(), before + 2);
    EXPECT_EQ(lines.back().status, test.takenUp ? 206 : 200) << lines.back().line;
  }
}

// A file above 8 MiB comes through a file of the updater's own, which a later run takes up
// only for the same file (its resource and digest) and the same body (nginx's ETag); anything
// else starts over, and a part that is not what the server has is asked for whole. Either way
// the target ends as listed, in an archive or as a plain file, and the download goes.
TEST_F(EngineServerTest, ALargeFileAnEarlierRunLeftIsTakenUpOnlyForTheSameBody) {
  std::string raw(9u << 20, '\0');
  uint32_t seed = 5;
  for (char& c : raw) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  // Half its bits random: its stored form is a zlib stream of about half its size.
  std::string packed(raw);
  for (char& c : packed) c = static_cast<char>(c & 0x0F);
  const std::vector<ListedFile> files = {{u"big.bin", raw, false}, {u"models\\big.ski", packed, true}};
  tree_->PutStoredFiles(files);
  const auto part = temp_ / "config" / "patcher" / "staging" / "download.~part";
  const auto recordFile = temp_ / "config" / "patcher" / "staging" / "download.~part.resume";
  for (const ListedFile& file : files) {
    const std::string resource = "files\\" + platform::Utf8FromUtf16(file.name);
    const std::vector<uint8_t> stored = testsupport::StoredForm(file.content, file.compress);
    // nginx's ETag: the file's modification time and size, in hexadecimal.
    struct stat status {};
    ASSERT_EQ(stat((std::filesystem::path(nginx_.root) / resource).string().c_str(), &status), 0);
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%lx-%lx\"", static_cast<unsigned long>(status.st_mtime),
                  static_cast<unsigned long>(status.st_size));
    const platform::Md5Digest digest = testsupport::Md5Of(file.content);
    const std::string key = resource + " " + HexText(digest.data(), digest.size());
    const auto record = [&](const std::string& what, const std::string& validator) {
      return "solmere-package-resume 1\nurl " + what + "\nlength " + std::to_string(stored.size()) + "\nvalidator " +
             validator + "\n";
    };
    std::vector<uint8_t> damaged(stored.begin(), stored.begin() + 3000000);
    damaged[1000] ^= 0x55;
    struct Case {
      const char* what;
      std::string record;  // empty: none
      std::vector<uint8_t> part;
      std::vector<int> statuses;  // of the requests for the file
    };
    const std::vector<uint8_t> first(stored.begin(), stored.begin() + 3000000);
    const std::vector<Case> cases = {
        {"the same body", record(key, etag), first, {206}},
        {"the file changed since", record(key, "\"5f00aaaa-1\""), first, {200}},
        {"another release's file", record(resource + " 00112233445566778899aabbccddeeff", etag), first, {200}},
        {"no record", "", first, {200}},
        {"a part that is not the server's", record(key, etag), damaged, {206, 200}},
    };
    for (const Case& test : cases) {
      SCOPED_TRACE(platform::Utf8FromUtf16(file.name) + ": " + test.what);
      // The target as before the release, so that the file is downloaded.
      if (file.name == u"big.bin") {
        std::filesystem::remove(ClientFile("big.bin"));
      } else {
        PutArchived(u"models", file.name, "before");
      }
      std::filesystem::create_directories(part.parent_path());
      WriteWholeFile(part, test.part);
      std::filesystem::remove(recordFile);
      if (!test.record.empty()) WriteWholeFile(recordFile, test.record);
      set_->SetFileTable({{file.name, FileInfo{digest, static_cast<uint32_t>(file.content.size()),
                                               static_cast<uint32_t>(stored.size())}}});
      const std::size_t before = testsupport::ReadAccessLog(nginx_).size();
      ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
      EXPECT_TRUE((file.name == u"big.bin" ? ClientFileText("big.bin") : Archived(u"models", file.name)) ==
                  file.content);
      EXPECT_FALSE(std::filesystem::exists(part));
      EXPECT_FALSE(std::filesystem::exists(recordFile));
      // The archive's entry is there to take chunks from: its chunk index is asked for.
      const std::size_t indexRequests = file.name == u"big.bin" ? 0 : 1;
      const std::vector<testsupport::AccessLogLine> lines =
          testsupport::WaitForAccessLog(nginx_, before + test.statuses.size() + indexRequests);
      std::vector<int> statuses;
      for (std::size_t i = before; i < lines.size(); ++i)
        if (lines[i].target.rfind("/files", 0) == 0) statuses.push_back(lines[i].status);
      EXPECT_EQ(statuses, test.statuses);
    }
  }
  EXPECT_NE(LogText().find("Taking up the download of files\\big.bin: 3000000 of "), std::string::npos);
  EXPECT_NE(LogText().find("What an earlier run left of files\\big.bin is damaged: asked for whole"),
            std::string::npos);
}

// A changed file above 1 MiB whose target is there is made of the chunks the target holds and
// those it lacks from the server's chunk store: a small edit anywhere costs a small download,
// in an archive or as a plain file. Whatever fails (a chunk missing or damaged, a damaged
// index, no index at all) falls back to the whole file. Either way the target ends as listed.
TEST_F(EngineServerTest, ALargeFileIsMadeOfTheChunksItHoldsAndThoseItLacks) {
  std::string base(3u << 20, '\0');
  uint32_t seed = 11;
  for (char& c : base) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 26);
  const auto edit = [&base](std::size_t at, std::size_t cut, const std::string& put) {
    std::string edited = base;
    edited.replace(at, cut, put);
    return edited;
  };
  const std::string inserted = edit(1u << 20, 0, std::string(100, 'i'));
  // The chunk of the edited file that the base lacks, for the cases that damage it.
  const auto lackedChunk = [&base](const std::string& edited) {
    std::vector<uint32_t> lengths;
    std::set<ChunkDigest> held;
    for (const std::string* content : std::array<const std::string*, 2>{&base, &edited}) {
      ContentChunker chunker;
      lengths.clear();
      const ContentChunker::ChunkEnd end = [&lengths](uint32_t length) { lengths.push_back(length); };
      chunker.Feed(reinterpret_cast<const uint8_t*>(content->data()), content->size(), end);
      chunker.Finish(end);
      std::size_t at = 0;
      for (uint32_t length : lengths) {
        const ChunkDigest digest = DigestOfChunk(reinterpret_cast<const uint8_t*>(content->data()) + at, length);
        if (content == &edited && held.count(digest) == 0) return platform::Utf16FromUtf8(ChunkResource(digest));
        held.insert(digest);
        at += length;
      }
    }
    return std::u16string();
  };
  const auto removeResource = [this](const std::u16string& resource) {
    std::u16string slashed = resource;
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    for (const std::u16string& name : {resource, slashed})
      std::filesystem::remove(std::filesystem::path(nginx_.root) / std::filesystem::path(name));
  };
  struct Case {
    const char* what;
    std::string edited;
    // What is done to the server's chunks; null: nothing.
    std::function<void(const std::u16string& index)> damage;
    bool chunked;
  };
  const std::vector<Case> cases = {
      {"100 bytes inserted", inserted, nullptr, true},
      {"4 KiB overwritten", edit(2u << 20, 4096, std::string(4096, 'o')), nullptr, true},
      {"1 KiB appended", base + std::string(1024, 'a'), nullptr, true},
      {"5,000 bytes cut off", base.substr(0, base.size() - 5000), nullptr, true},
      {"its halves swapped", base.substr(base.size() / 2) + base.substr(0, base.size() / 2), nullptr, true},
      {"a chunk missing", inserted, [&](const std::u16string&) { removeResource(lackedChunk(inserted)); }, false},
      {"a chunk damaged", inserted, [&](const std::u16string&) { tree_->PutText(lackedChunk(inserted), "damaged"); },
       false},
      {"the index damaged", inserted, [&](const std::u16string& index) { tree_->PutText(index, "damaged\n"); }, false},
      {"no index", inserted, [&](const std::u16string& index) { removeResource(index); }, false},
  };
  for (const std::u16string name : {u"big.bin", u"models\\big.ski"}) {
    for (const Case& test : cases) {
      SCOPED_TRACE(platform::Utf8FromUtf16(name) + ": " + test.what);
      tree_->Clear();
      const ListedFile listed{name, test.edited, true};
      tree_->PutStoredFiles({listed});
      const std::u16string index = tree_->PutChunks(test.edited);
      if (test.damage) test.damage(index);
      if (name == u"big.bin") {
        WriteWholeFile(ClientFile("big.bin"), std::vector<uint8_t>(base.begin(), base.end()));
      } else {
        PutArchived(u"models", name, base);
      }
      const testsupport::ListEntry entry = testsupport::EntryOf(listed);
      set_->SetFileTable({{name, FileInfo{entry.digest, entry.size, entry.storedSize}}});
      const std::size_t before = testsupport::ReadAccessLog(nginx_).size();
      ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
      EXPECT_TRUE((name == u"big.bin" ? ClientFileText("big.bin") : Archived(u"models", name)) == test.edited);
      // Every request is logged once the pass is over; the last may take nginx a moment.
      const std::vector<testsupport::AccessLogLine> lines = testsupport::WaitForAccessLog(nginx_, before + 1);
      std::size_t whole = 0;
      uint64_t chunkBytes = 0;
      for (std::size_t i = before; i < lines.size(); ++i) {
        if (lines[i].target.rfind("/files", 0) == 0) ++whole;
        if (lines[i].target.rfind("/chunks", 0) == 0)
          chunkBytes += std::stoull(lines[i].line.substr(lines[i].line.rfind(' ') + 1));
      }
      EXPECT_EQ(whole, test.chunked ? 0u : 1u) << "the whole file asked for";
      if (test.chunked) {
        EXPECT_LT(chunkBytes, entry.storedSize / 5) << "the download is not small";
      }
      EXPECT_FALSE(std::filesystem::exists(temp_ / "config" / "patcher" / "staging" / "chunks.~part"));
    }
  }
  EXPECT_NE(LogText().find("chunks taken from the file there"), std::string::npos);
  EXPECT_NE(LogText().find("is damaged"), std::string::npos);

  // A file of 1 MiB or less has no chunks to ask for.
  tree_->Clear();
  const ListedFile small{u"small.bin", base.substr(0, 1u << 20), true};
  tree_->PutStoredFiles({small});
  WriteWholeFile(ClientFile("small.bin"), std::vector<uint8_t>(base.begin() + 10, base.begin() + 10 + (1u << 20)));
  const testsupport::ListEntry smallEntry = testsupport::EntryOf(small);
  set_->SetFileTable({{small.name, FileInfo{smallEntry.digest, smallEntry.size, smallEntry.storedSize}}});
  const std::size_t before = testsupport::ReadAccessLog(nginx_).size();
  ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
  const std::vector<testsupport::AccessLogLine> lines = testsupport::WaitForAccessLog(nginx_, before + 1);
  for (std::size_t i = before; i < lines.size(); ++i) EXPECT_EQ(lines[i].target.rfind("/chunks", 0), std::string::npos);
}

// The chunks a target lacks come on the pass's connections, several at once; with one
// connection, all on it. The content comes out the same either way.
TEST_F(EngineServerTest, TheChunksATargetLacksComeOnSeveralConnections) {
  std::string base(3u << 20, '\0');
  uint32_t seed = 23;
  for (char& c : base) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 26);
  // The first quarter kept, the rest new: some forty chunks to fetch.
  std::string edited = base.substr(0, base.size() / 4);
  for (std::size_t i = edited.size(); i < base.size(); ++i)
    edited.push_back(static_cast<char>((seed = seed * 1103515245u + 12345u) >> 26));
  for (const int connections : {4, 1}) {
    SCOPED_TRACE(std::to_string(connections) + " connections");
    tree_->Clear();
    const ListedFile listed{u"big.bin", edited, true};
    tree_->PutStoredFiles({listed});
    tree_->PutChunks(edited);
    WriteWholeFile(ClientFile("big.bin"), std::vector<uint8_t>(base.begin(), base.end()));
    const testsupport::ListEntry entry = testsupport::EntryOf(listed);
    set_->SetFileTable({{listed.name, FileInfo{entry.digest, entry.size, entry.storedSize}}});
    set_->SetConnections(connections);
    const std::size_t before = testsupport::ReadAccessLog(nginx_).size();
    ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
    EXPECT_TRUE(ClientFileText("big.bin") == edited);
    const std::vector<testsupport::AccessLogLine> lines = testsupport::WaitForAccessLog(nginx_, before + 30);
    std::set<std::string> chunkConnections;
    std::size_t chunks = 0;
    for (std::size_t i = before; i < lines.size(); ++i) {
      EXPECT_NE(lines[i].target.rfind("/files", 0), 0u) << "the whole file asked for";
      if (lines[i].target.rfind("/chunks", 0) != 0 || lines[i].target.find("index") != std::string::npos) continue;
      ++chunks;
      chunkConnections.insert(lines[i].connection);
    }
    EXPECT_GE(chunks, 30u);
    if (connections == 1) {
      EXPECT_EQ(chunkConnections.size(), 1u);
    } else {
      EXPECT_GE(chunkConnections.size(), 2u) << "the chunks came one after the other";
    }
  }
}

// With the release signed, an index is used only as the manifest vouches for it; one it does not
// (swapped after signing) is left for the whole file, which the signed list checks.
TEST_F(EngineServerTest, ALargeFileIsMadeOfChunksOnlyByTheIndexTheSignedManifestVouchesFor) {
  const std::optional<KeyPair> key = NewKeyPair();
  ASSERT_TRUE(key);
  std::string base(3u << 20, '\0');
  uint32_t seed = 17;
  for (char& c : base) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 26);
  std::string edited = base;
  edited.insert(1u << 20, std::string(100, 'i'));
  set_->server().SetReleaseKeys({key->publicKey});
  for (const bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "the index swapped after signing" : "the index signed");
    tree_->Clear();
    const ListedFile listed{u"big.bin", edited, true};
    tree_->PutStoredFiles({listed});
    tree_->PutVersion(2);
    const std::u16string index = tree_->PutChunks(edited);
    const std::string signedIndex =
        testsupport::ReadFileText(std::filesystem::path(nginx_.root) / "chunks" / "index" /
                                  platform::Utf8FromUtf16(index.substr(index.rfind(u'\\') + 1)));
    if (swapped) tree_->PutText(index, "signed, then swapped");
    tree_->PutReleaseManifest(2, static_cast<int64_t>(std::time(nullptr)) + 86400,
                              {{"version", u"version"}, {platform::Utf8FromUtf16(index), index}}, &key->secretKey);
    if (swapped) tree_->PutText(index, signedIndex);
    WriteWholeFile(ClientFile("big.bin"), std::vector<uint8_t>(base.begin(), base.end()));
    ASSERT_EQ(set_->FetchServerVersion(Context()).version, 2) << LogText();
    const testsupport::ListEntry entry = testsupport::EntryOf(listed);
    set_->SetFileTable({{listed.name, FileInfo{entry.digest, entry.size, entry.storedSize}}});
    const std::size_t before = testsupport::ReadAccessLog(nginx_).size();
    const std::size_t logFrom = LogText().size();
    ASSERT_EQ(set_->CheckFiles(Context(), false).outcome, CheckResult::Outcome::kDone) << LogText();
    EXPECT_TRUE(ClientFileText("big.bin") == edited);
    const std::vector<testsupport::AccessLogLine> lines = testsupport::WaitForAccessLog(nginx_, before + 1);
    std::size_t whole = 0;
    for (std::size_t i = before; i < lines.size(); ++i) whole += lines[i].target.rfind("/files", 0) == 0 ? 1 : 0;
    EXPECT_EQ(whole, swapped ? 1u : 0u) << LogText().substr(logFrom);
    EXPECT_EQ(LogText().find("does not match the signed release manifest", logFrom) != std::string::npos, swapped)
        << LogText().substr(logFrom);
  }
}

TEST_F(UpdatePackageTest, DownloadsFromTheServerOrAnotherHostAndComesBack) {
  const std::vector<uint8_t> package = testsupport::PackageBytes(0, 20, {{u"p.txt", "from a package"}});
  tree_->Put(u"packs\\p1.cup", package);
  tree_->PutText(u"version", "20");
  tree_->PutText(u"patches\\list", Numbered("15 20 http://127.0.0.1:", nginx_.port, "/packs/p1.cup?x=1\n"));
  const PackageDownload download = set_->DownloadPatchPackage(Context(), 17, 20);
  ASSERT_TRUE(download.downloaded()) << LogText();
  EXPECT_EQ(download.from, 15);
  EXPECT_EQ(download.to, 20);
  EXPECT_EQ(ReadWholeFile(temp_ / "config" / "patcher" / "tempfile.dat"), package);
  ASSERT_EQ(set_->ApplyPackage(Context(), set_->layout().packageFile()).outcome, ApplyResult::Outcome::kApplied);
  EXPECT_EQ(ClientFileText("p.txt"), "from a package");

  // The same package named on another host: fetched over a connection of its own, after
  // which the client is back on the update server.
  tree_->PutText(u"patches\\list", "17 20 http://localhost:1/packs/p1.cup\n");
  ASSERT_TRUE(set_->DownloadPatchPackage(Context(), 17, 20).downloaded()) << LogText();
  EXPECT_EQ(set_->FetchServerVersion(Context()).version, 20);
  // The version is followed by the (optional) release manifest.
  const std::vector<std::string> requests = Requests(6);
  ASSERT_EQ(requests.size(), 6u) << ::testing::PrintToString(requests);
  EXPECT_EQ(PathOf(requests[5]), "/release.manifest");
  EXPECT_EQ(PathOf(requests[0]), "/patches/list");
  EXPECT_EQ(PathOf(requests[1]), "/packs/p1.cup") << "no query";
  EXPECT_EQ(ConnectionOf(requests[0]), ConnectionOf(requests[1])) << "same host: no reconnect";
  EXPECT_EQ(PathOf(requests[3]), "/packs/p1.cup");
  EXPECT_NE(ConnectionOf(requests[3]), ConnectionOf(requests[2]));
  EXPECT_EQ(PathOf(requests[4]), "/version");
  EXPECT_NE(ConnectionOf(requests[4]), ConnectionOf(requests[3])) << "connected to the update server again";
  EXPECT_EQ(ConnectionOf(requests[4]), ConnectionOf(requests[2])) << "the update server's connection was kept";
  // The download is the set's own: it goes with the set.
  set_.reset();
  EXPECT_FALSE(std::filesystem::exists(temp_ / "config" / "patcher" / "tempfile.dat"));
}

#ifdef __linux__
// Runs in the death test's child. The temporary package's folder gets a file system of
// 100 MiB, mounted in a mount namespace of this thread alone, so nothing outlives the
// child; the child removes its folder itself, as it ends with exit.
void UpdatePackageTest::DownloadOntoASmallDisk() {
  const std::filesystem::path folder = temp_ / "config" / "patcher";
  const std::string why = [&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=100m") != 0)
      return std::string("cannot mount a small file system: ") + std::strerror(errno);
    testsupport::ScriptedHttpServer server;
    const std::string at = Numbered("http://127.0.0.1:", server.port());
    testsupport::ScriptedResponse list;
    list.body = "5 7 " + at + "/fits.cup\n6 7 " + at + "/too-big.cup\n";
    server.Serve("/patches\\list", list);
    // 30 MiB and the 64 MiB kept for the archives fit into 100 MiB; 40 MiB do not.
    testsupport::ScriptedResponse fits;
    fits.body = std::string(30u << 20, 'f');
    server.Serve("/fits.cup", fits);
    testsupport::ScriptedResponse tooBig;
    tooBig.declaredLength = uint64_t{40} << 20;
    tooBig.body = "x";
    server.Serve("/too-big.cup", tooBig);
    MakeSet(u"127.0.0.1", server.port());
    if (!set_->OpenArchives({}).allOpen()) return "the archives did not open";
    const std::filesystem::path package = folder / "tempfile.dat";
    if (!set_->DownloadPatchPackage(Context(), 5, 7).downloaded())
      return "the package that fits was not fetched: " + LogText();
    if (std::filesystem::file_size(package) != fits.body.size()) return "the package that fits is not whole";
    if (set_->DownloadPatchPackage(Context(), 6, 7).downloaded())
      return "the package too large for the disk was fetched";
    if (std::filesystem::file_size(package) != 0) return "bytes of the package too large for the disk were written";
    const std::string log = LogText();
    const std::string line =
        "ERROR: Not enough disk space for the update package /too-big.cup: it needs 104 MiB with room for the "
        "archives, ";
    if (log.find(line) == std::string::npos || log.find(" MiB are free in ") == std::string::npos)
      return "no clear log line: " + log;
    const std::vector<std::string> lines = server.requestLines();
    if (lines.size() != 4 || lines.back() != "GET /too-big.cup HTTP/1.1") return "unexpected requests";
    return {};
  }();
  if (!why.empty()) std::fprintf(stderr, "%s\n", why.c_str());
  set_.reset();
  testsupport::ProcessLog::Close();
  umount2(folder.c_str(), MNT_DETACH);
  std::error_code ignored;
  std::filesystem::remove_all(temp_.path(), ignored);
  std::exit(why.empty() ? 0 : 1);
}

TEST_F(UpdatePackageTest, PackageThatDoesNotFitTheDiskIsNotFetched) {
  if (geteuid() != 0) GTEST_SKIP() << "a small file system can be mounted only as root";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(DownloadOntoASmallDisk(), ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(UpdatePackageTest, BrokenOrMissingPackageDownloadIsRejected) {
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  MakeSet(u"127.0.0.1", server.port());
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  const std::vector<uint8_t> package = testsupport::PackageBytes(0, 20, {{u"p.txt", std::string(9000, 'p'), false}});
  testsupport::ScriptedResponse cut;
  cut.body = std::string(package.begin(), package.end());
  cut.dropAfter = 5000;
  testsupport::ScriptedResponse list;
  const std::string at = Numbered("http://127.0.0.1:", server.port());
  list.body = "15 20 ";
  list.body += at;
  list.body += "/cut.cup\n16 20 ";
  list.body += at;
  list.body += "/missing.cup\n";
  server.Serve("/patches\\list", list);
  server.Serve("/patches/list", list);
  server.Serve("//cut.cup", cut);
  server.Serve("/cut.cup", cut);
  const PackageDownload cutShort = set_->DownloadPatchPackage(Context(), 15, 20);
  EXPECT_EQ(cutShort.outcome, PackageDownload::Outcome::kFailed);
  EXPECT_EQ(cutShort.request.failure, FetchFailure::kBrokenOff);
  EXPECT_NE(LogText().find("ERROR: Can't get file from server: /cut.cup"), std::string::npos);
  const PackageDownload missing = set_->DownloadPatchPackage(Context(), 16, 20);
  EXPECT_EQ(missing.outcome, PackageDownload::Outcome::kFailed);
  EXPECT_EQ(missing.from, 16);
  EXPECT_EQ(missing.request.status, 404u);
  EXPECT_NE(LogText().find("ERROR: Can't get file from server: /missing.cup"), std::string::npos) << LogText();
}

// Every way out of the package route leaves a line in the log; a client folder without
// "config\patcher" gets it when a package is downloaded.
TEST_F(UpdatePackageTest, PackageRouteExplainsEveryWayOut) {
  const std::vector<uint8_t> package = testsupport::PackageBytes(0, 20, {{u"p.txt", "from a package"}});
  tree_->Put(u"packs\\p.cup", package);
  tree_->PutText(u"patches\\list", Numbered("17 20 http://127.0.0.1:", nginx_.port, "/packs/p.cup\n"));
  EXPECT_EQ(set_->DownloadPatchPackage(Context(), 16, 20).outcome, PackageDownload::Outcome::kNoPackage);
  EXPECT_NE(LogText().find("INFO: No update package from version 16 to 20"), std::string::npos) << LogText();

  std::filesystem::remove_all(temp_ / "config" / "patcher");
  ASSERT_TRUE(set_->DownloadPatchPackage(Context(), 17, 20).downloaded()) << LogText();
  EXPECT_EQ(ReadWholeFile(temp_ / "config" / "patcher" / "tempfile.dat"), package);

  // A folder where the temporary file belongs: it cannot be created.
  std::filesystem::remove(temp_ / "config" / "patcher" / "tempfile.dat");
  std::filesystem::create_directories(temp_ / "config" / "patcher" / "tempfile.dat");
  EXPECT_EQ(set_->DownloadPatchPackage(Context(), 17, 20).outcome, PackageDownload::Outcome::kCannotCreate);
  EXPECT_NE(LogText().find("ERROR: Can't create file " + (temp_ / "config" / "patcher").lexically_normal().string()),
            std::string::npos)
      << LogText();
}

}  // namespace
