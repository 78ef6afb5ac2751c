// The file check with its targets read and hashed on worker threads ahead of the entry in
// hand, against the scripted server (which records every request): the entries found
// different, the requests and their order, resuming and cancelling are those of a check
// that handles one entry after the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "engine/engine_fixture.h"
#include "engine/server_tree.h"
#include "support/scripted_http_server.h"

namespace {

using testsupport::ListedFile;
using namespace std::chrono_literals;

constexpr auto kDeadline = 30s;

// Waits until `condition` holds; false when the deadline passed first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds deadline = kDeadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t unit : text) narrow.push_back(unit == u'\\' ? '/' : static_cast<char>(unit));
  return narrow;
}

class ParallelCheckTest : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    ASSERT_TRUE(server_.listening());
    NewSet();
  }

  // A fresh archive set over the client folder as it is on disk.
  void NewSet() {
    MakeSet(u"127.0.0.1", server_.port());
    // The check's threads, with the downloads one at a time in list order on one connection
    // (several at once: EngineServerTest.SeveralConnectionsDoWhatOneDoes).
    set_->SetConnections(1);
    ASSERT_TRUE(set_->OpenArchives({}).allOpen());
    token_ = std::make_shared<CancelToken>();
  }
  // An empty client: no plain files, fifteen new archives.
  void EmptyClient() {
    set_.reset();
    std::filesystem::remove_all(temp_ / "velkar");
    NewSet();
  }

  // Serves each file's stored form under both spellings of its request (WinINet sends
  // every "\" as "/").
  void Serve(const ListedFile& file, const testsupport::ScriptedResponse& response) {
    server_.Serve("/files\\" + std::string(file.name.begin(), file.name.end()), response);
    server_.Serve("/files/" + Narrow(file.name), response);
  }
  void Serve(const std::vector<ListedFile>& files) {
    for (const ListedFile& file : files) {
      testsupport::ScriptedResponse response;
      const std::vector<uint8_t> stored = testsupport::StoredForm(file.content, file.compress);
      response.body.assign(stored.begin(), stored.end());
      Serve(file, response);
    }
  }
  void LoadList(const std::vector<ListedFile>& files) {
    std::vector<testsupport::ListEntry> entries;
    for (const ListedFile& file : files) entries.push_back(testsupport::EntryOf(file));
    const std::vector<uint8_t> list = testsupport::FileListBytes(entries);
    FileTable table;
    ASSERT_TRUE(ReadFileList(list.data(), list.size(), &table, Context()));
    set_->SetFileTable(std::move(table));
  }
  // The table's entries in the order the check works through them.
  std::vector<std::u16string> TableOrder() const {
    std::vector<std::u16string> order;
    for (const auto& entry : set_->fileTable()) order.push_back(entry.first);
    return order;
  }

  // Puts content where a listed file lives: its archive entry (as a zlib stream where
  // that is shorter and asked for) or its plain file.
  void PutLocal(const std::u16string& name, const std::string& content, bool compress = false) {
    for (std::u16string_view archive : kArchiveNames) {
      if (name.compare(0, archive.size(), archive) != 0) continue;
      std::u16string full = name;
      std::replace(full.begin(), full.end(), u'/', u'\\');
      const std::vector<uint8_t> stored = testsupport::StoredForm(content, compress);
      ASSERT_EQ(set_->archives().Find(archive)->SetFileCompressedData(
                    full, stored.data(), static_cast<uint32_t>(stored.size()), static_cast<uint32_t>(content.size())),
                PackageResult::kOk);
      return;
    }
    PutClientFile(Narrow(name), content);
  }
  std::string Local(const std::u16string& name) {
    for (std::u16string_view archive : kArchiveNames) {
      if (name.compare(0, archive.size(), archive) != 0) continue;
      std::u16string full = name;
      std::replace(full.begin(), full.end(), u'/', u'\\');
      return Archived(std::u16string(archive), full);
    }
    return ClientFileText(Narrow(name));
  }

  // The files requested since `from` requests, as "files/<path>" with "/" throughout.
  std::vector<std::string> FileRequests(std::size_t from = 0) const {
    std::vector<std::string> requests;
    const std::vector<std::string> lines = server_.requestLines();
    for (std::size_t i = from; i < lines.size(); ++i) {
      std::string target = lines[i].substr(4, lines[i].rfind(' ') - 4);
      std::replace(target.begin(), target.end(), '\\', '/');
      requests.push_back(target);
    }
    return requests;
  }
  static std::string RequestOf(const std::u16string& name) { return "/files/" + Narrow(name); }

  // Runs the check on a thread of its own; false when it did not end in time.
  bool CheckWithin(bool resume, CheckResult::Outcome* result, std::chrono::seconds deadline = kDeadline) {
    std::future<CheckResult> check =
        std::async(std::launch::async, [&] { return set_->CheckFiles(Context(token_.get()), resume); });
    if (check.wait_for(deadline) != std::future_status::ready) {
      // Let it end before the test's objects go; the cancel ends any transfer.
      token_->Cancel();
      check.wait();
      return false;
    }
    *result = check.get().outcome;
    return true;
  }

  testsupport::ScriptedHttpServer server_;
  std::shared_ptr<CancelToken> token_;
};

// Archived (in three archives, some stored compressed) and plain files of random sizes.
std::vector<ListedFile> ManyFiles(std::mt19937& random, int count) {
  const char16_t* archives[] = {u"models", u"textures", u"configs"};
  std::vector<ListedFile> files;
  for (int i = 0; i < count; ++i) {
    std::u16string name = i % 2 == 0 ? std::u16string(archives[i / 2 % 3]) + u"\\e" : std::u16string(u"data\\p");
    name += Wide(std::to_string(i) + ".bin");
    std::string content(100 + random() % 6000, '\0');
    for (char& c : content) c = static_cast<char>('a' + random() % (i % 3 == 0 ? 3 : 26));
    files.push_back({name, content, i % 4 != 1});
  }
  return files;
}

TEST_F(ParallelCheckTest, EntriesThatDifferAtRandomPlacesAreFetchedInListOrderByAnyNumberOfThreads) {
  std::mt19937 random(11);
  const std::vector<ListedFile> files = ManyFiles(random, 300);
  // About a third differ: missing, or other content of the same or another length.
  std::set<std::u16string> differing;
  std::vector<int> kinds;
  for (std::size_t i = 0; i < files.size(); ++i) {
    kinds.push_back(static_cast<int>(random() % 9));
    if (kinds.back() < 3) differing.insert(files[i].name);
  }
  Serve(files);

  std::vector<std::string> firstRequests;
  for (int threads : {1, 4}) {
    SCOPED_TRACE(Numbered("threads ", threads));
    EmptyClient();
    for (std::size_t i = 0; i < files.size(); ++i) {
      std::string local = files[i].content;
      if (kinds[i] == 0) continue;  // missing
      if (kinds[i] == 1) local[local.size() / 2] ^= 1;
      if (kinds[i] == 2) local += "x";
      PutLocal(files[i].name, local, files[i].compress);
    }
    LoadList(files);
    std::vector<std::string> expected;
    for (const std::u16string& name : TableOrder())
      if (differing.count(name) != 0) expected.push_back(RequestOf(name));
    set_->SetCheckThreads(threads);
    const std::size_t before = server_.requestLines().size();
    const int connections = server_.connections();
    const std::size_t logged = LogText().size();

    CheckResult::Outcome result = CheckResult::Outcome::kBadPath;
    ASSERT_TRUE(CheckWithin(false, &result)) << "the check did not end";
    EXPECT_EQ(result, CheckResult::Outcome::kDone) << LogText();
    EXPECT_EQ(FileRequests(before), expected);
    // WinINet may go on with a connection of the archive set before.
    EXPECT_LE(server_.connections() - connections, 1) << "one connection, one download at a time";
    EXPECT_EQ(LogText().find("ERROR", logged), std::string::npos) << LogText().substr(logged);
    EXPECT_TRUE(set_->fileTable().empty());
    EXPECT_EQ(progress_.Read().itemsDone, 300);
    for (const ListedFile& file : files) EXPECT_EQ(Local(file.name), file.content) << Narrow(file.name);
    if (threads == 1)
      firstRequests = FileRequests(before);
    else
      EXPECT_EQ(FileRequests(before), firstRequests);

    // Checked again, with what was stored in place: nothing is fetched.
    LoadList(files);
    const std::size_t again = server_.requestLines().size();
    ASSERT_TRUE(CheckWithin(false, &result)) << "the second check did not end";
    EXPECT_EQ(result, CheckResult::Outcome::kDone);
    EXPECT_TRUE(FileRequests(again).empty()) << ::testing::PrintToString(FileRequests(again));
  }
}

// Two names can reach one target. The second is checked only after the first was
// stored, so it sees what the first left, as it would one after the other.
TEST_F(ParallelCheckTest, NamesThatReachOneTargetSeeWhatTheEntryBeforeThemLeft) {
  set_->SetCheckThreads(4);
  // Archive entries are found whatever the case of A-Z and either separator; plain files
  // whatever the case where the file system does not tell case apart. (Two names of one
  // target with two contents are refused before the pass: no pass could leave both.)
  const std::vector<std::pair<ListedFile, ListedFile>> pairs = {
      {{u"models\\dup\\Case.ski", std::string(3000, 'A')}, {u"models\\dup\\case.ski", std::string(3000, 'A')}},
      {{u"textures\\dup\\Name.dds", "shared", false}, {u"textures\\dup\\NAME.dds", "shared", false}},
      {{u"gfx\\again.tga", "back again"}, {u"gfx/Again.tga", "back again"}},
#ifdef _WIN32
      {{u"data\\dup\\Plain.txt", "plain"}, {u"data\\dup\\plain.txt", "plain"}},
#endif
  };
  std::vector<ListedFile> files;
  for (const auto& pair : pairs) {
    files.push_back(pair.first);
    files.push_back(pair.second);
  }
  // Many entries after them, so that the workers run ahead while the first downloads.
  std::mt19937 random(3);
  for (const ListedFile& file : ManyFiles(random, 100)) files.push_back(file);
  Serve(files);
  LoadList(files);
  const std::vector<std::u16string> order = TableOrder();
  const auto position = [&](const std::u16string& name) { return std::find(order.begin(), order.end(), name); };

  std::vector<std::u16string> expectRequested;
  std::vector<std::pair<std::u16string, std::string>> expectLocal;
  for (const auto& [a, b] : pairs) {
    const bool aFirst = position(a.name) < position(b.name);
    const ListedFile& first = aFirst ? a : b;
    const ListedFile& second = aFirst ? b : a;
    // The target holds something else: the first entry's download makes the second match,
    // so a second that was checked ahead of it would be fetched again.
    PutLocal(second.name, "old " + second.content);
    expectRequested.push_back(first.name);
    expectLocal.emplace_back(second.name, second.content);
  }
  for (std::size_t i = 2 * pairs.size(); i < files.size(); ++i) PutLocal(files[i].name, files[i].content);

  CheckResult::Outcome result = CheckResult::Outcome::kBadPath;
  ASSERT_TRUE(CheckWithin(false, &result)) << "the check did not end";
  ASSERT_EQ(result, CheckResult::Outcome::kDone) << LogText();
  std::vector<std::string> expected;
  for (const std::u16string& name : order)
    if (std::find(expectRequested.begin(), expectRequested.end(), name) != expectRequested.end())
      expected.push_back(RequestOf(name));
  EXPECT_EQ(FileRequests(), expected);
  for (const auto& [name, content] : expectLocal) EXPECT_EQ(Local(name), content) << Narrow(name);
}

// A download that fails half-way through the list stops the check there; the resumed
// check handles exactly the entries left and never looks at those handled before (their
// targets, spoilt meanwhile, stay spoilt).
TEST_F(ParallelCheckTest, FailureInTheMiddleIsResumedWithTheEntriesLeftOnly) {
  set_->SetCheckThreads(4);
  std::mt19937 random(5);
  const std::vector<ListedFile> files = ManyFiles(random, 200);
  LoadList(files);
  const std::vector<std::u16string> order = TableOrder();
  // Every third entry in list order differs; the one at 120 cannot be had at first.
  std::set<std::u16string> differing;
  for (std::size_t i = 0; i < order.size(); ++i)
    if (i % 3 == 0) differing.insert(order[i]);
  const std::u16string failing = order[120];
  std::vector<ListedFile> served;
  for (const ListedFile& file : files) {
    if (differing.count(file.name) == 0) PutLocal(file.name, file.content);
    if (file.name != failing) served.push_back(file);
  }
  Serve(served);

  CheckResult::Outcome result = CheckResult::Outcome::kBadPath;
  ASSERT_TRUE(CheckWithin(false, &result)) << "the check did not end";
  EXPECT_EQ(result, CheckResult::Outcome::kDownloadFailed);
  EXPECT_NE(LogText().find("ERROR: Can't get file from server: files\\" + std::string(failing.begin(), failing.end())),
            std::string::npos);
  std::vector<std::string> expected;
  for (std::size_t i = 0; i <= 120; ++i)
    if (differing.count(order[i]) != 0) expected.push_back(RequestOf(order[i]));
  EXPECT_EQ(FileRequests(), expected) << "nothing after the failing entry was fetched";
  EXPECT_EQ(progress_.Read().itemsDone, 120);
  EXPECT_EQ(set_->fileTable().size(), 80u);
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(set_->fileTable().count(order[i]), i < 120 ? 0u : 1u);

  for (std::size_t i = 0; i < 120; ++i) PutLocal(order[i], "spoilt since");
  Serve(files);
  const std::size_t before = server_.requestLines().size();
  ASSERT_TRUE(CheckWithin(true, &result)) << "the resumed check did not end";
  EXPECT_EQ(result, CheckResult::Outcome::kDone) << LogText();
  expected.clear();
  for (std::size_t i = 120; i < order.size(); ++i)
    if (differing.count(order[i]) != 0) expected.push_back(RequestOf(order[i]));
  EXPECT_EQ(FileRequests(before), expected);
  EXPECT_EQ(progress_.Read().itemsDone, 200);
  EXPECT_EQ(progress_.Read().itemsTotal, 200);
  EXPECT_TRUE(set_->fileTable().empty());
  for (std::size_t i = 0; i < order.size(); ++i) {
    const auto file = std::find_if(files.begin(), files.end(), [&](const ListedFile& f) { return f.name == order[i]; });
    EXPECT_EQ(Local(order[i]), i < 120 ? "spoilt since" : file->content) << Narrow(order[i]);
  }
}

// A cancel while an entry downloads: that entry and every later one stay for a later
// run, those before it are handled, and the pass ends without waiting for the server.
TEST_F(ParallelCheckTest, CancelDuringADownloadLeavesItAndTheRestForLater) {
  set_->SetCheckThreads(4);
  std::mt19937 random(7);
  const std::vector<ListedFile> files = ManyFiles(random, 60);
  LoadList(files);
  const std::vector<std::u16string> order = TableOrder();
  Serve(files);
  // The 25th entry's download gets its head and then nothing.
  const auto held = std::find_if(files.begin(), files.end(), [&](const ListedFile& f) { return f.name == order[25]; });
  testsupport::ScriptedResponse stalled;
  // No longer than the content: a longer stored form would be refused before it came.
  stalled.body = std::string(held->content.size(), 's');
  stalled.stallAfter = 0;
  Serve(*held, stalled);
  const std::size_t logged = LogText().size();
  std::future<CheckResult> check =
      std::async(std::launch::async, [&] { return set_->CheckFiles(Context(token_.get()), false); });
  const bool reached = WaitUntil([&] {
    const std::vector<std::string> requests = FileRequests();
    return !requests.empty() && requests.back() == RequestOf(order[25]);
  });
  token_->Cancel();
  ASSERT_TRUE(reached) << "the 25th download never started; requests: " << ::testing::PrintToString(FileRequests());
  ASSERT_EQ(check.wait_for(kDeadline), std::future_status::ready) << "the cancel did not end the check";
  EXPECT_EQ(check.get().outcome, CheckResult::Outcome::kCancelled);
  EXPECT_TRUE(token_->cancelled());
  EXPECT_FALSE(set_->busy());
  std::vector<std::string> expected;
  for (std::size_t i = 0; i <= 25; ++i) expected.push_back(RequestOf(order[i]));
  EXPECT_EQ(FileRequests(), expected);
  EXPECT_EQ(set_->fileTable().size(), order.size() - 25);
  for (std::size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(set_->fileTable().count(order[i]), i < 25 ? 0u : 1u) << Narrow(order[i]);
    if (i >= 25) {
      EXPECT_EQ(Local(order[i]), "<absent>") << Narrow(order[i]);
    }
  }
  EXPECT_EQ(LogText().find("ERROR", logged), std::string::npos)
      << "a cancel is no failure: " << LogText().substr(logged);
}

// While an entry of one archive downloads, the entries of another archive after it are
// read and hashed.
TEST_F(ParallelCheckTest, EntriesOfOneArchiveAreCheckedWhileAnotherArchivesEntryDownloads) {
  set_->SetCheckThreads(2);
  std::vector<ListedFile> files;
  for (int i = 0; i < 30; ++i) {
    files.push_back({Wide(Numbered("models\\m", i, ".ski")), std::string(2000 + 10 * i, 'm')});
    files.push_back({Wide(Numbered("textures\\t", i, ".dds")), std::string(3000 + 10 * i, 't')});
  }
  LoadList(files);
  const std::vector<std::u16string> order = TableOrder();
  // The first models entry that has textures entries after it downloads; the textures
  // entries are in place already.
  std::size_t held = order.size();
  for (std::size_t i = 0; i < order.size() && held == order.size(); ++i)
    if (order[i].rfind(u"models", 0) == 0 && i + 1 < order.size()) held = i;
  ASSERT_LT(held, order.size());
  std::set<std::u16string> texturesAfter;
  for (std::size_t i = held + 1; i < order.size(); ++i)
    if (order[i].rfind(u"textures", 0) == 0) texturesAfter.insert(order[i]);
  ASSERT_FALSE(texturesAfter.empty());
  for (const ListedFile& file : files)
    if (file.name.rfind(u"textures", 0) == 0 || file.name != order[held]) PutLocal(file.name, file.content);
  const auto heldFile =
      std::find_if(files.begin(), files.end(), [&](const ListedFile& f) { return f.name == order[held]; });
  testsupport::ScriptedResponse stalled;
  stalled.body = std::string(heldFile->content.size(), 's');
  stalled.stallAfter = 0;
  Serve(*heldFile, stalled);

  std::mutex mutex;
  std::set<std::u16string> checked;
  set_->SetCheckedAheadHook([&](const std::u16string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    checked.insert(path);
  });
  std::future<CheckResult> check =
      std::async(std::launch::async, [&] { return set_->CheckFiles(Context(token_.get()), false); });
  const bool downloading =
      WaitUntil([&] { return FileRequests() == std::vector<std::string>{RequestOf(order[held])}; });
  const bool checkedMeanwhile = WaitUntil([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return std::includes(checked.begin(), checked.end(), texturesAfter.begin(), texturesAfter.end());
  });
  const bool stillDownloading = check.wait_for(0s) == std::future_status::timeout;
  token_->Cancel();
  ASSERT_EQ(check.wait_for(kDeadline), std::future_status::ready) << "the cancel did not end the check";
  EXPECT_EQ(check.get().outcome, CheckResult::Outcome::kCancelled);
  EXPECT_TRUE(downloading) << "requests: " << ::testing::PrintToString(FileRequests());
  EXPECT_TRUE(checkedMeanwhile) << texturesAfter.size() << " textures entries after the download, " << checked.size()
                                << " entries checked";
  EXPECT_TRUE(stillDownloading);
  EXPECT_EQ(set_->fileTable().size(), order.size() - held);
}

}  // namespace
