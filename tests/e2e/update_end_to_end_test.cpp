// The operator's publish and the updater's engine end to end: three releases of the
// sample client published into one tree, which a stock nginx serves with publish's own
// configuration; clients at every older release are brought to the latest one the ways
// the workflow does it, and must then hold exactly what the latest release holds.

#include <memory>

#include "base/log.h"
#include "base/progress_counters.h"
#include "engine/client_archive_set.h"
#include "support/child_process.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/nginx_server.h"
#include "support/temp_folder.h"
#include "tools/publish_fixture.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;
using testsupport::RunChild;

namespace {

namespace fs = std::filesystem;
using publish_test::ClientImage;
using publish_test::ReadClient;
using publish_test::U8String;

constexpr int32_t kLatest = 3;
// Small enough for seconds natively, under asan and under Wine; the sample still has large
// files, Cyrillic and Chinese names, and every kind of change between releases.
const std::vector<std::string> kSampleSize = {"--files", "300", "--size-mb", "2"};
// The package URLs name the update server's own host, so the engine fetches them over
// its connection to the test's nginx.
constexpr char kPackageUrlBase[] = "http://127.0.0.1/patches";

std::string Utf8(const std::u16string& text) {
  return platform::Utf8FromUtf16(text);
}

// Every way two clients differ, one line each: missing, extra, renamed or other bytes.
std::vector<std::string> Differences(const ClientImage& actual, const ClientImage& expected) {
  std::vector<std::string> differences;
  for (const auto& [identity, file] : expected.files) {
    const auto found = actual.files.find(identity);
    if (found == actual.files.end()) {
      differences.push_back("missing " + Utf8(file.first));
    } else if (found->second.first != file.first) {
      differences.push_back("named " + Utf8(found->second.first) + " instead of " + Utf8(file.first));
    } else if (found->second.second != file.second) {
      differences.push_back("other bytes in " + Utf8(file.first));
    }
  }
  for (const auto& [identity, file] : actual.files)
    if (expected.files.count(identity) == 0) differences.push_back("extra " + Utf8(file.first));
  return differences;
}

std::string FirstLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < 20; ++i) text += lines[i] + "\n";
  if (lines.size() > 20) text += "... " + std::to_string(lines.size() - 20) + " more\n";
  return text;
}

// What the suite shares: the nginx around the program, the published tree in its root and
// the sample clients of every release. Published once per process.
struct PublishedReleases {
  testsupport::NginxServer nginx;
  std::unique_ptr<testsupport::TempFolder> folder;
  fs::path root;  // sample clients c1, c2, c3 and each test's own clients
  ClientImage latest;
  std::string failure;  // why the releases are not there
};

class UpdateEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = new PublishedReleases;
    shared_->failure = Publish();
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }

  static std::string Publish() {
    PublishedReleases* shared = shared_;
    std::string why;
    if (!testsupport::NginxFromEnvironment(&shared->nginx, &why)) return why;
    shared->folder = std::make_unique<testsupport::TempFolder>("e2e");
    if (!shared->folder->made()) return "no temporary folder";
    shared->root = shared->folder->path();
    fs::create_directories(shared->root / "scratch");
    const std::string server = U8String(fs::path(shared->nginx.root));
    std::vector<std::vector<std::string>> runs;
    for (int version = 1; version <= kLatest; ++version) {
      std::vector<std::string> sample = {"sample", Sample(version), std::to_string(version)};
      sample.insert(sample.end(), kSampleSize.begin(), kSampleSize.end());
      runs.push_back(sample);
    }
    runs.push_back({"release", server, Sample(1) + "/velkar", "1"});
    runs.push_back(
        {"release", server, Sample(2) + "/velkar", "2", "--package-from", "1", "--package-url-base", kPackageUrlBase});
    runs.push_back({"release", server, Sample(3) + "/velkar", "3", "--package-from", "1", "--package-from", "2",
                    "--package-url-base", kPackageUrlBase});
    runs.push_back({"verify", server});
    for (const std::vector<std::string>& arguments : runs) {
      const ChildResult result = RunChild(PUBLISH_PATH, arguments, shared->root / "scratch");
      if (!result.started) return "cannot start " PUBLISH_PATH;
      if (result.exitCode != 0 || (arguments[0] == "verify" && !result.err.empty()))
        return "publish " + arguments[0] + " " + arguments[1] + " failed:\n" + result.out + result.err;
    }
    shared->latest = ReadClient(fs::path(Sample(kLatest)) / "velkar");
    return "";
  }

  // The sample client of a release, as publish gets it on its command line.
  static std::string Sample(int version) {
    std::string name = "c";  // built with += : gcc 12 warns falsely about "literal" + string
    name += std::to_string(version);
    return U8String(shared_->root / name);
  }

  void SetUp() override {
    ASSERT_TRUE(shared_->failure.empty()) << shared_->failure;
    ASSERT_GT(shared_->latest.files.size(), 300u) << "the latest release was not read";
    logStart_ = testsupport::ReadAccessLog(shared_->nginx).size();
  }
  void TearDown() override { testsupport::ProcessLog::Close(); }

  // A client root (patcher, velkar, config) at the given release: the sample client of
  // that release, or for 0 nothing at all. The engine's log goes into it.
  fs::path MakeClient(const std::string& name, int version) {
    const fs::path client = shared_->root / name;
    if (version > 0) fs::copy(fs::path(Sample(version)), client, fs::copy_options::recursive);
    fs::create_directories(client / "patcher");
    fs::create_directories(client / "config" / "patcher");
    log_.Open(client / "log.txt");
    return client;
  }
  std::unique_ptr<ClientArchiveSet> Engine(const fs::path& client) const {
    return std::make_unique<ClientArchiveSet>(ClientLayout((client / "patcher").u16string()),
                                              UpdateServerAddress{u"127.0.0.1", shared_->nginx.port});
  }

  // Everything the engine logged so far, as UTF-8.
  std::string EngineLog() { return log_.Text(); }

  // This test's requests as "path status", every "\\" as "/", once there are `count`.
  std::vector<std::string> Requests(std::size_t count) const {
    const std::vector<testsupport::AccessLogLine> lines =
        testsupport::WaitForAccessLog(shared_->nginx, logStart_ + count);
    std::vector<std::string> requests;
    for (std::size_t i = logStart_; i < lines.size(); ++i)
      requests.push_back(testsupport::ServedPath(lines[i].target) + " " + std::to_string(lines[i].status));
    return requests;
  }

  // This test's requests up to the "/version" request, and the release manifest asked for with
  // it, that mark the end of an update.
  std::vector<std::string> RequestsToTheMark(std::size_t atLeast) const {
    std::vector<std::string> requests = Requests(atLeast);
    while (!requests.empty() && requests.size() <= 4000 && requests.back() != "/release.manifest 200" &&
           requests.size() >= atLeast) {
      atLeast = requests.size() + 1;
      requests = Requests(atLeast);
    }
    return requests;
  }

  // A package brings everything itself; a list costs one download per file it names,
  // all of which this client lacks or has in another form: the file whole, or a large file
  // that the client has in another form made of chunks (its index, and the chunks it lacks).
  // Every "/version" request is followed by one for the release manifest; each update ends
  // with them, which mark its end.
  void ExpectRequestsOfUpdate(int version, bool byPackage) const {
    if (byPackage) {
      std::string package = "/patches/";
      package += std::to_string(version) + "-" + std::to_string(kLatest) + ".cup 200";
      EXPECT_EQ(Requests(6), (std::vector<std::string>{"/version 200", "/release.manifest 200", "/patches/list 200",
                                                       package, "/version 200", "/release.manifest 200"}));
      return;
    }
    const std::string list = version == 0 ? "fulllist" : "list_" + std::to_string(kLatest - version);
    std::size_t downloads = 0;
    for (const publish_test::Listed& entry :
         publish_test::ParseList(ReadFileText(fs::path(shared_->nginx.root) / list), version == 0 ? 4 : 0))
      if (entry.size != kDeleteSize) ++downloads;
    const std::vector<std::string> requests = RequestsToTheMark(5 + downloads);
    ASSERT_GE(requests.size(), 5 + downloads) << FirstLines(requests);
    EXPECT_EQ(requests[0], "/version 200");
    EXPECT_EQ(requests[1], "/release.manifest 200");
    EXPECT_EQ(requests[2], "/" + list + " 200");
    EXPECT_EQ(requests[requests.size() - 2], "/version 200");
    EXPECT_EQ(requests.back(), "/release.manifest 200");
    std::size_t whole = 0;
    std::size_t indexes = 0;
    for (std::size_t i = 3; i + 2 < requests.size(); ++i) {
      EXPECT_EQ(requests[i].substr(requests[i].size() - 4), " 200") << requests[i];
      if (requests[i].rfind("/files/", 0) == 0) {
        ++whole;
      } else if (requests[i].rfind("/chunks/index/", 0) == 0) {
        ++indexes;
      } else {
        EXPECT_EQ(requests[i].rfind("/chunks/", 0), 0u) << requests[i];
      }
    }
    EXPECT_EQ(whole + indexes, downloads) << FirstLines(requests);
    // A client with files has large ones in another form; an empty one has none to take chunks from.
    if (version == 0) {
      EXPECT_EQ(indexes, 0u);
    } else {
      EXPECT_GT(indexes, 0u) << "no large file was made of chunks";
    }
  }

  static PublishedReleases* shared_;
  std::size_t logStart_ = 0;
  testsupport::ProcessLog log_;
};

PublishedReleases* UpdateEndToEnd::shared_ = nullptr;

TEST_F(UpdateEndToEnd, EveryOlderClientReachesTheLatestRelease) {
  // A client at 0 (an empty folder) takes the full list; the others the change list of
  // their distance, or the package the patch list names for their release.
  const struct {
    const char* name;
    int version;
    bool byPackage;
  } cases[] = {
      {"empty-by-fulllist", 0, false}, {"r1-by-list", 1, false},   {"r2-by-list", 2, false},
      {"r1-by-package", 1, true},      {"r2-by-package", 2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    logStart_ = testsupport::ReadAccessLog(shared_->nginx).size();
    const fs::path client = MakeClient(c.name, c.version);
    if (c.version > 0) {
      ASSERT_FALSE(Differences(ReadClient(client / "velkar"), shared_->latest).empty()) << "nothing to update";
    }
    {
      std::unique_ptr<ClientArchiveSet> engine = Engine(client);
      ASSERT_TRUE(engine->OpenArchives({}).allOpen()) << EngineLog();
      const int32_t local = engine->ReadLocalVersion();
      ASSERT_EQ(local, c.version);
      const int32_t server = engine->FetchServerVersion({}).version;
      ASSERT_EQ(server, kLatest) << EngineLog();
      int32_t reached = 0;
      if (c.byPackage) {
        const PackageDownload download = engine->DownloadPatchPackage({}, local, server);
        ASSERT_TRUE(download.downloaded()) << EngineLog();
        EXPECT_EQ(download.from, local) << "the package made for this release";
        EXPECT_EQ(download.to, kLatest);
        ASSERT_TRUE(engine->ApplyPackage({}, engine->layout().packageFile()).applied()) << EngineLog();
        reached = download.to;
      } else {
        const ListResult list = local == 0 ? engine->GetFullList({}, server) : engine->GetList({}, local, server);
        ASSERT_TRUE(list.loaded()) << EngineLog();
        reached = list.version;
        ASSERT_EQ(reached, kLatest) << EngineLog();
        ASSERT_TRUE(engine->CheckFiles({}, false).done()) << EngineLog();
        EXPECT_TRUE(engine->fileTable().empty());
      }
      ASSERT_TRUE(engine->WriteLocalVersion(reached).written());
      ASSERT_TRUE(engine->SaveArchives({}).written());
      // The mark at the end of the update's requests.
      ASSERT_EQ(engine->FetchServerVersion({}).version, kLatest);
    }
    ExpectRequestsOfUpdate(c.version, c.byPackage);
    // Read back from disk once the engine has let go of the archives.
    const std::vector<std::string> differences = Differences(ReadClient(client / "velkar"), shared_->latest);
    EXPECT_TRUE(differences.empty()) << differences.size() << " differences:\n" << FirstLines(differences);
    EXPECT_EQ(ReadFileText(client / "config" / "velkar" / "version.sw"), std::to_string(kLatest));
    std::unique_ptr<ClientArchiveSet> reopened = Engine(client);
    ASSERT_TRUE(reopened->OpenArchives({}).allOpen());
    EXPECT_EQ(reopened->ReadLocalVersion(), kLatest) << "every archive's version entry";
  }
}

TEST_F(UpdateEndToEnd, ClientAtTheLatestReleaseFetchesNoFile) {
  const fs::path client = MakeClient("at-latest", kLatest);
  std::unique_ptr<ClientArchiveSet> engine = Engine(client);
  ASSERT_TRUE(engine->OpenArchives({}).allOpen());
  ASSERT_EQ(engine->ReadLocalVersion(), kLatest);
  ASSERT_EQ(engine->FetchServerVersion({}).version, kLatest) << EngineLog();
  // The client check with the full list, then the change lists of older clients: each
  // names files this client already has, so every digest matches.
  ProgressCounters progress;
  const OperationContext context(nullptr, progress);
  ASSERT_EQ(engine->GetFullList(context, kLatest).version, kLatest);
  const int32_t listed = progress.Read().itemsTotal;
  EXPECT_EQ(static_cast<std::size_t>(listed), shared_->latest.files.size());
  const CheckResult checked = engine->CheckFiles(context, false);
  ASSERT_TRUE(checked.done()) << EngineLog();
  EXPECT_EQ(checked.filesStored, 0);
  EXPECT_EQ(progress.Read().itemsDone, listed);
  for (int32_t behind : {2, 1}) {
    ASSERT_EQ(engine->GetList({}, kLatest - behind, kLatest).version, kLatest);
    ASSERT_GT(engine->fileTable().size(), 0u);
    ASSERT_TRUE(engine->CheckFiles({}, false).done()) << EngineLog();
  }
  // A last request marks the end: every line before it is in the log once it is.
  ASSERT_EQ(engine->FetchServerVersion({}).version, kLatest);
  const std::vector<std::string> expected = {"/version 200",         "/release.manifest 200", "/fulllist 200",
                                             "/list_2 200",          "/list_1 200",           "/version 200",
                                             "/release.manifest 200"};
  EXPECT_EQ(Requests(expected.size()), expected);
}

}  // namespace
