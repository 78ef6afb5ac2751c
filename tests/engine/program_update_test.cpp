// The updater's own programs brought to their server list against nginx (with_nginx.sh): only
// the files that differ are fetched, nothing changes in the program's folder until all of them
// are staged and right, and an update cut short at any step is finished by the next run.
#include "engine/program_update.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/number_file.h"
#include "engine/server_protocol.h"
#include "engine/server_tree.h"
#include "formats/release_signature.h"
#include "platform/text.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/nginx_server.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct ProgramFile {
  std::u16string name;
  std::string content;
};

using Files = std::map<std::string, std::string>;

std::string Said(ProgramUpdateResult::Outcome outcome) {
  return platform::Utf8FromUtf16(ProgramUpdateOutcomeText(outcome));
}

const std::vector<ProgramFile> kOldFiles = {
    {u"patcher.exe", "old updater program"},
    {u"skin\\same.png", std::string(5000, 's')},
    {u"skin\\changed.png", "old picture"},
    {u"skin\\dropped.png", "a picture the new updater no longer has"},
};
const std::vector<ProgramFile> kNewFiles = {
    {u"patcher.exe", "new updater program " + std::string(20000, 'n')},
    {u"skin\\same.png", std::string(5000, 's')},
    {u"skin\\changed.png", "new picture"},
    {u"skin\\added\\new.png", std::string(3000, 'a')},
};

class ProgramUpdateTest : public ::testing::Test {
 public:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(testsupport::NginxFromEnvironment(&nginx_, &why)) << why;
    tree_ = std::make_unique<testsupport::ServerTree>(fs::path(nginx_.root));
    tree_->Clear();
    log_.Open(temp_ / "log.txt");
    layout_ = std::make_unique<ClientLayout>(ClientLayout::OfRoot(temp_.U16("root")));
    server_ = std::make_unique<ServerProtocol>(UpdateServerAddress{u"127.0.0.1", nginx_.port},
                                               layout_->verifiedReleaseFile());
    server_->SetReleaseKeys({});
  }
  void TearDown() override {
    testsupport::ProcessLog::Close();
    if (tree_ != nullptr) tree_->Clear();
  }

  fs::path Folder() const { return fs::path(layout_->PatcherProgram().folder); }
  fs::path VersionFile() const { return fs::path(layout_->PatcherProgram().versionFile); }
  fs::path Staging() const { return fs::path(layout_->PatcherProgram().staging); }

  // The updater at version 1: its files, its version and the list they were brought to.
  void InstallOld() {
    std::error_code ignored;
    fs::remove_all(temp_ / "root", ignored);
    for (const ProgramFile& file : kOldFiles) testsupport::WriteWholeFile(PathOf(file.name), file.content);
    testsupport::WriteWholeFile(Folder() / "log.txt", "the updater's log, listed nowhere");
    ASSERT_TRUE(WriteNumberFile(VersionFile().u16string(), 1));
    const std::vector<uint8_t> installed = EncodeFullList(1, EntriesOf(kOldFiles, nullptr));
    testsupport::WriteWholeFile(fs::path(layout_->PatcherProgram().installedList), installed);
  }
  // "patcher\list" of `version` and the stored form of each file.
  void Publish(int32_t version, const std::vector<ProgramFile>& files) {
    tree_->Put(u"patcher\\list", EncodeFullList(version, EntriesOf(files, tree_.get())));
  }
  std::vector<ListEntry> EntriesOf(const std::vector<ProgramFile>& files, const testsupport::ServerTree* tree) const {
    std::vector<ListEntry> entries;
    for (const ProgramFile& file : files) {
      const std::vector<uint8_t> stored = testsupport::StoredForm(file.content, true);
      ListEntry entry;
      entry.name = file.name;
      entry.info.digest = testsupport::Md5Of(file.content);
      entry.info.size = static_cast<uint32_t>(file.content.size());
      entry.info.storedSize = static_cast<uint32_t>(stored.size());
      if (tree != nullptr) tree->Put(u"patcher\\files\\" + file.name, stored);
      entries.push_back(entry);
    }
    return entries;
  }
  fs::path PathOf(const std::u16string& name) const {
    std::u16string slashed = name;
    for (char16_t& unit : slashed)
      if (unit == u'\\') unit = u'/';
    return Folder() / fs::path(slashed);
  }
  // Every file of the updater's folder but its log.
  Files FolderFiles() const {
    Files files;
    for (const auto& item : fs::recursive_directory_iterator(Folder()))
      if (item.is_regular_file() && item.path().filename() != "log.txt")
        files[item.path().lexically_relative(Folder()).generic_string()] = testsupport::ReadFileText(item.path());
    return files;
  }
  static Files Expected(const std::vector<ProgramFile>& list) {
    Files files;
    for (const ProgramFile& file : list) {
      std::string name(file.name.begin(), file.name.end());
      for (char& c : name)
        if (c == '\\') c = '/';
      files[name] = file.content;
    }
    return files;
  }
  // Requests for the stored files since `from`.
  std::size_t FileRequestsSince(std::size_t from) const {
    const std::vector<testsupport::AccessLogLine> lines = testsupport::ReadAccessLog(nginx_);
    std::size_t count = 0;
    for (std::size_t i = from; i < lines.size(); ++i)
      if (testsupport::ServedPath(lines[i].target).find("/patcher/files/") != std::string::npos) ++count;
    return count;
  }
  std::size_t LogLines() const { return testsupport::WaitForAccessLog(nginx_, 0).size(); }

  ProgramUpdateResult Run(int32_t expected = -1, ProgramUpdate::StepHook hook = {}) {
    ProgramUpdate update(*server_, layout_->PatcherProgram(), std::move(hook));
    return update.Run(OperationContext(), expected);
  }

  testsupport::TempFolder temp_;
  testsupport::ProcessLog log_;
  testsupport::NginxServer nginx_;
  std::unique_ptr<testsupport::ServerTree> tree_;
  std::unique_ptr<ClientLayout> layout_;
  std::unique_ptr<ServerProtocol> server_;
};

TEST_F(ProgramUpdateTest, FetchesWhatDiffersSwapsItInAndDropsWhatTheListNoLongerNames) {
  InstallOld();
  Publish(2, kNewFiles);
  const std::size_t before = LogLines();
  const ProgramUpdateResult result = Run(2);
  ASSERT_EQ(result.outcome, ProgramUpdateResult::Outcome::kUpdated) << Said(result.outcome);
  EXPECT_EQ(result.filesStaged, 3u) << "patcher.exe, changed.png and new.png; same.png is in place";
  EXPECT_EQ(FolderFiles(), Expected(kNewFiles));
  EXPECT_TRUE(fs::exists(Folder() / "log.txt")) << "a file no list ever named stays";
  EXPECT_EQ(ReadNumberFile(VersionFile().u16string()), 2);
  EXPECT_FALSE(fs::exists(Staging()));
  testsupport::WaitForAccessLog(nginx_, before + 4);
  EXPECT_EQ(FileRequestsSince(before), 3u);

  // Once more: nothing to fetch, nothing written.
  const std::size_t again = LogLines();
  EXPECT_EQ(Run(2).outcome, ProgramUpdateResult::Outcome::kUpToDate);
  testsupport::WaitForAccessLog(nginx_, again + 1);
  EXPECT_EQ(FileRequestsSince(again), 0u);
}

TEST_F(ProgramUpdateTest, NothingChangesWhenTheServerCannotGiveTheNewFilesWhole) {
  using Outcome = ProgramUpdateResult::Outcome;
  struct Case {
    const char* what;
    std::function<void(ProgramUpdateTest&)> serve;
    int32_t expected;
    Outcome outcome;
  };
  const std::vector<Case> cases = {
      {"no list on the server", [](ProgramUpdateTest&) {}, 2, Outcome::kNoList},
      {"a list of another version", [](ProgramUpdateTest& test) { test.Publish(3, kNewFiles); }, 2,
       Outcome::kOtherVersion},
      {"an unreadable list",
       [](ProgramUpdateTest& test) { test.tree_->PutText(u"patcher\\list", "<html>captive portal</html>"); }, 2,
       Outcome::kUnreadable},
      {"a stored file missing",
       [](ProgramUpdateTest& test) {
         test.Publish(2, kNewFiles);
         // Both of the tree's names of it (see ServerTree).
         const fs::path root(test.nginx_.root);
         fs::remove(root / "patcher" / "files" / "skin" / "added" / "new.png");
         fs::remove(root / "patcher\\files\\skin\\added\\new.png");
       },
       2, Outcome::kFetchFailed},
      {"a stored file that is not what the list says",
       [](ProgramUpdateTest& test) {
         test.Publish(2, kNewFiles);
         test.tree_->Put(u"patcher\\files\\skin\\changed.png", testsupport::StoredForm("new picturE", true));
       },
       2, Outcome::kWrongContent},
      {"a name that leaves the folder",
       [](ProgramUpdateTest& test) {
         std::vector<ProgramFile> files = kNewFiles;
         files.push_back({u"..\\launcher\\Launcher.exe", "a program put elsewhere"});
         test.Publish(2, files);
       },
       2, Outcome::kBadName},
      {"one file listed twice",
       [](ProgramUpdateTest& test) {
         std::vector<ProgramFile> files = kNewFiles;
         files.push_back({u"SKIN\\Changed.png", "the same file by another case"});
         test.Publish(2, files);
       },
       2, Outcome::kBadName},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    tree_->Clear();
    InstallOld();
    test.serve(*this);
    const ProgramUpdateResult result = Run(test.expected);
    EXPECT_EQ(result.outcome, test.outcome) << Said(result.outcome);
    EXPECT_EQ(FolderFiles(), Expected(kOldFiles));
    EXPECT_EQ(ReadNumberFile(VersionFile().u16string()), 1);
    EXPECT_FALSE(fs::exists(Staging())) << "what was staged is cleared";
  }
}

// With the operator's key the updater's list must be the one the release manifest signs: a list
// changed after signing is refused before anything is fetched by it.
TEST_F(ProgramUpdateTest, WithAKeyOnlyTheSignedListIsTaken) {
  const std::optional<KeyPair> key = NewKeyPair();
  ASSERT_TRUE(key);
  server_->SetReleaseKeys({key->publicKey});
  InstallOld();
  Publish(2, kNewFiles);
  tree_->PutText(u"version", "9");
  tree_->PutText(u"patcher_version_new", "2");
  tree_->PutReleaseManifest(
      9, static_cast<int64_t>(std::time(nullptr)) + 86400,
      {{"version", u"version"}, {"patcher_version_new", u"patcher_version_new"}, {"patcher\\list", u"patcher\\list"}},
      &key->secretKey);
  ASSERT_EQ(server_->FetchPatcherVersion(OperationContext()), 2);
  std::vector<ProgramFile> other = kNewFiles;
  other[0].content = "a program the operator never released";
  Publish(2, other);
  const std::size_t before = LogLines();
  EXPECT_EQ(Run(2).outcome, ProgramUpdateResult::Outcome::kUnverified);
  EXPECT_EQ(FolderFiles(), Expected(kOldFiles));
  testsupport::WaitForAccessLog(nginx_, before + 2);
  EXPECT_EQ(FileRequestsSince(before), 0u);

  Publish(2, kNewFiles);
  const ProgramUpdateResult signed_ = Run(2);
  EXPECT_EQ(signed_.outcome, ProgramUpdateResult::Outcome::kUpdated) << Said(signed_.outcome);
  EXPECT_EQ(FolderFiles(), Expected(kNewFiles));
}

// Broken off after every step, as a kill would leave it (the step throws; nothing is cleaned
// up): the next run ends with the new updater whole, and every run before it left either the
// old updater or a journal that finishes the swap.
TEST_F(ProgramUpdateTest, AnUpdateBrokenOffAtAnyStepIsFinishedByTheNextRun) {
  Publish(2, kNewFiles);
  InstallOld();
  int steps = 0;
  ASSERT_EQ(Run(2, [&] { ++steps; }).outcome, ProgramUpdateResult::Outcome::kUpdated);
  EXPECT_EQ(steps, 3 * 2 + 1 + 3 * 2 + 1 + 3 + 1) << "download, stage; journal; aside, in; removal; version, "
                                                     "journal gone, staging gone; list kept";
  struct Stop : std::runtime_error {
    Stop() : std::runtime_error("stopped") {}
  };
  for (int stopAt = 1; stopAt <= steps; ++stopAt) {
    SCOPED_TRACE("broken off after step " + std::to_string(stopAt));
    InstallOld();
    int step = 0;
    EXPECT_THROW(Run(2,
                     [&] {
                       if (++step == stopAt) throw Stop();
                     }),
                 Stop);
    const bool journal = fs::exists(Staging() / "journal");
    if (!journal && ReadNumberFile(VersionFile().u16string()) == 1) {
      EXPECT_EQ(FolderFiles(), Expected(kOldFiles));
    }
    const ProgramUpdateResult next = Run(2);
    EXPECT_TRUE(next.succeeded()) << Said(next.outcome);
    EXPECT_EQ(FolderFiles(), Expected(kNewFiles));
    EXPECT_EQ(ReadNumberFile(VersionFile().u16string()), 2);
    EXPECT_FALSE(fs::exists(Staging()));
  }
}

}  // namespace
