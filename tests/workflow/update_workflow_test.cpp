// The update workflow against nginx serving a tree the tests write, with a window that
// records what it is shown and answers from a script.
#include "workflow/update_workflow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "engine/engine_fixture.h"
#include "engine/scripted_release.h"
#include "engine/server_tree.h"
#include "formats/release_signature.h"
#include "support/file_bytes.h"
#include "support/nginx_server.h"
#include "support/scripted_http_server.h"
#include "support/wait_until.h"
#include "support/watchdog.h"
#include "workflow/fake_window.h"

using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

namespace {

using testsupport::ListedFile;
using Answer = FakeWindow::Answer;
using Events = std::vector<std::string>;

const char kOffer[] = "ask: Требуется обновление | Обновить клиент? | 10";
const char kServerRetry[] = "ask: Ошибка | Ошибка сервера обновлений.\nПовторить попытку? | 0";
const char kListRetry[] = "ask: Ошибка | Ошибка загрузки списка файлов.\nПовторить попытку? | 5";
const char kFileRetry[] = "ask: Ошибка | Ошибка обновления файла.\nПовторить попытку? | 3";
const char kManualCannotOpen[] =
    "ask: Ошибка обновления | Не удалось открыть файл ручного обновления.\nВыбрать другой файл? | 0";
const char kManualTooLow[] =
    "ask: Ошибка обновления | Версия клиента ниже версии файла обновления.\nВыбрать другой файл? | 0";
const char kManualWrite[] =
    "ask: Ошибка обновления | Ошибка обновления файла.\nУбедитесь, что на диске достаточно свободного "
    "места.\nПовторить попытку? | 10";

class WorkflowTest : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    std::string why;
    ASSERT_TRUE(testsupport::NginxFromEnvironment(&nginx_, &why)) << why;
    tree_ = std::make_unique<testsupport::ServerTree>(std::filesystem::path(nginx_.root));
    tree_->Clear();
  }
  void TearDown() override {
    workflow_.reset();
    window_.Close();
    ClientFixture::TearDown();
    if (tree_ != nullptr) tree_->Clear();
  }

  // A client at `version` holding `archived` (full archive names) and `plain` files, saved
  // and closed; the workflow gets a fresh archive set that has opened nothing yet.
  void PrepareClient(int32_t version, const std::vector<ListedFile>& archived = {}) {
    workflow_.reset();
    MakeSet(u"127.0.0.1", nginx_.port);
    ASSERT_TRUE(set_->OpenArchives({}).allOpen());
    for (const ListedFile& file : archived) {
      const std::u16string archive = file.name.substr(0, file.name.find(u'\\'));
      PutArchived(archive, file.name, file.content);
    }
    ASSERT_TRUE(set_->WriteLocalVersion(version).written());
    ASSERT_TRUE(set_->SaveArchives({}).written());
    MakeSet(u"127.0.0.1", nginx_.port);
    workflow_ = std::make_unique<UpdateWorkflow>(*set_, window_, progress_);
  }
  // The version a fresh start would read, after the workflow has ended.
  int32_t VersionOnDisk() {
    workflow_.reset();
    MakeSet(u"127.0.0.1", nginx_.port);
    EXPECT_TRUE(set_->OpenArchives({}).allOpen());
    return set_->ReadLocalVersion();
  }
  std::string PackageUrl(const std::string& path) const {
    return Numbered("http://127.0.0.1:", nginx_.port, ("/" + path).c_str());
  }
  // The workflow on a fresh archive set that talks to the server on this port instead.
  void ServeFrom(uint16_t port) {
    workflow_.reset();
    MakeSet(u"127.0.0.1", port);
    workflow_ = std::make_unique<UpdateWorkflow>(*set_, window_, progress_);
  }
  std::size_t RequestCount() const { return testsupport::ReadAccessLog(nginx_).size(); }
  // The access log's lines from line `from` on, once there are `count` of them.
  std::vector<std::string> RequestLines(std::size_t from, std::size_t count) const {
    const std::vector<testsupport::AccessLogLine> all = testsupport::WaitForAccessLog(nginx_, from + count);
    std::vector<std::string> lines;
    for (std::size_t at = from; at < all.size(); ++at) lines.push_back(all[at].line);
    return lines;
  }
  // Runs the start-up chain; false when it has not ended within the deadline (the
  // workflow is then stopped, so that the test ends either way).
  bool RunStartupWithin(std::chrono::seconds deadline) {
    if (!workflow_->StartStartup()) return false;
    const bool ended = testsupport::WaitUntil([this] { return !workflow_->Running(); }, deadline);
    workflow_->Stop();
    return ended;
  }
  void RemoveStoredFile(const std::string& name) {
    std::filesystem::remove(std::filesystem::path(nginx_.root) / "files" / name);
    std::filesystem::remove(std::filesystem::path(nginx_.root) / ("files\\" + name));
  }
  // The log so far, as UTF-8 (the workers have ended).
  std::string Log() { return LogText(); }
  static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }
  bool AllSaved() { return !set_->archives().hasUnsavedChanges(); }
  void RunStartup() {
    ASSERT_TRUE(workflow_->StartStartup());
    workflow_->WaitForWorkers();
  }

  testsupport::NginxServer nginx_;
  std::unique_ptr<testsupport::ServerTree> tree_;
  FakeWindow window_;
  std::unique_ptr<UpdateWorkflow> workflow_;
  // Workers are joined without a deadline of their own.
  testsupport::Watchdog watchdog_{std::chrono::seconds(180)};
};

TEST_F(WorkflowTest, StartupChainEndsReadyWhenVersionsMatch) {
  PrepareClient(5);
  tree_->PutText(u"version", "5\r\n");
  RunStartup();
  EXPECT_EQ(window_.Events(), (Events{"status: Подготовка к запуску...", "step: Чтение архивов: %d%%", "close: off",
                                      "buttons: Working", "close: on", "step: ", "version: Версия клиента: 5",
                                      "buttons: Ready", "status: Клиент готов к запуску", "step: "}));
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  EXPECT_EQ(StatesOf(ButtonSet::kReady), (ButtonStates{true, true, false, false}));
}

TEST_F(WorkflowTest, DamagedFolderAsksOnceAndMakesNoServerRequest) {
  PrepareClient(5);
  tree_->PutText(u"version", "5");
  // An archive that can be neither opened nor created.
  std::filesystem::remove(temp_ / "velkar" / "configs.pck");
  std::filesystem::create_directories(temp_ / "velkar" / "configs.pck");
  const std::size_t requests = RequestCount();
  window_.Script({Answer::kYes});
  RunStartup();
  EXPECT_EQ(window_.Events(),
            (Events{"status: Подготовка к запуску...", "step: Чтение архивов: %d%%", "close: off", "buttons: Working",
                    "ask: Ошибка | Не удалось открыть некоторые архивы.\nОбновление невозможно.\n\nУбедитесь, что на "
                    "диске достаточно места, попробуйте запустить программу с правами администратора. | 0",
                    "status: Требуется проверка клиента", "version: Папка повреждена", "close: on",
                    "buttons: Damaged folder"}));
  EXPECT_EQ(workflow_->state(), WorkflowState::kDamagedFolder);
  EXPECT_EQ(StatesOf(ButtonSet::kDamagedFolder), (ButtonStates{true, true, false, false}));
  EXPECT_EQ(RequestCount(), requests);
  EXPECT_NE(Log().find("ERROR: Папка повреждена"), std::string::npos);
}

TEST_F(WorkflowTest, ComparingEndsInTheStateTheVersionsCallFor) {
  const struct {
    const char* name;
    int32_t local;
    const char* server;  // nullptr: no version on the server
    std::vector<Answer> answers;
    Events questions;
    ButtonSet buttons;
    const char* status;
    WorkflowState state;
    ButtonStates states;
  } cases[] = {
      {.name = "behind, offer declined",
       .local = 5,
       .server = "7",
       .answers = {Answer::kNo},
       .questions = {kOffer},
       .buttons = ButtonSet::kUpdateNeeded,
       .status = "status: Требуется обновление",
       .state = WorkflowState::kUpdateNeeded,
       .states = {false, true, true, true}},
      {.name = "ahead of the server",
       .local = 7,
       .server = "5",
       .answers = {},
       .questions = {},
       .buttons = ButtonSet::kServerError,
       .status = "status: Ошибка сервера обновлений",
       .state = WorkflowState::kServerError,
       .states = {true, true, true, true}},
      {.name = "server unreachable, retried once",
       .local = 0,
       .server = nullptr,
       .answers = {Answer::kYes, Answer::kNo},
       .questions = {kServerRetry, kServerRetry},
       .buttons = ButtonSet::kServerError,
       .status = "status: Ошибка сервера обновлений",
       .state = WorkflowState::kServerError,
       .states = {true, true, true, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tree_->Clear();
    PrepareClient(c.local);
    if (c.server != nullptr) tree_->PutText(u"version", c.server);
    for (Answer answer : c.answers) window_.Script({answer});
    const std::size_t before = window_.Events().size();
    RunStartup();
    const Events all = window_.Events();
    const Events events(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    Events questions;
    for (const std::string& event : events)
      if (event.rfind("ask: ", 0) == 0) questions.push_back(event);
    EXPECT_EQ(questions, c.questions);
    EXPECT_EQ(workflow_->state(), c.state);
    EXPECT_EQ(StatesOf(c.buttons), c.states);
    const auto shown = std::find(events.begin(), events.end(), "buttons: " + FakeWindow::Name(c.buttons));
    ASSERT_NE(shown, events.end());
    ASSERT_NE(shown + 1, events.end());
    EXPECT_EQ(shown[1], c.status);
    EXPECT_EQ(events.back(), "step: ");
    EXPECT_NE(std::find(events.begin(), events.end(), Numbered("version: Версия клиента: ", c.local)), events.end());
    EXPECT_EQ(window_.UnusedAnswers(), 0u);
  }
  EXPECT_EQ(Count(Log(), "ERROR: Ошибка получения версии сервера обновлений"), 2u);
}

TEST_F(WorkflowTest, OfferCountDownEndsAndTheChangeListUpdatesTheClient) {
  PrepareClient(5, {{u"models\\a.ski", "old model"}});
  tree_->PutText(u"version", "7");
  const std::vector<ListedFile> files = {{u"models\\a.ski", std::string(3000, 'm')}, {u"new.txt", "new file"}};
  tree_->PutChangeList(2, files);
  window_.Script({Answer::kCountDownEnds});
  RunStartup();
  EXPECT_EQ(window_.Events("ask: "), (Events{kOffer}));
  EXPECT_EQ(window_.Events("step: "),
            (Events{"step: Чтение архивов: %d%%", "step: ", "step: Загрузка пакета обновления: %d%%",
                    "step: Загрузка списка файлов: %d%%", "step: Обновление файлов: %d%%",
                    "step: Сохранение архивов: %d%%", "step: ", "step: "}));
  EXPECT_EQ(window_.Events("status: "), (Events{"status: Подготовка к запуску...", "status: Требуется обновление",
                                                "status: Обновление клиента...", "status: Клиент готов к запуску"}));
  EXPECT_EQ(window_.Events("buttons: "),
            (Events{"buttons: Working", "buttons: Update needed", "buttons: Working", "buttons: Ready"}));
  EXPECT_EQ(window_.Events("version: "), (Events{"version: Версия клиента: 5", "version: Версия клиента: 7"}));
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  const std::string log = Log();
  EXPECT_NE(log.find("INFO: Обновление клиента...\r\n"), std::string::npos);
  EXPECT_NE(log.find("INFO: Версия клиента: 5. Версия сервера: 7.\r\n"), std::string::npos);
  EXPECT_NE(log.find("INFO: Обновление завершено\r\n"), std::string::npos);
  EXPECT_EQ(VersionOnDisk(), 7);
  EXPECT_EQ(Archived(u"models", u"models\\a.ski"), files[0].content);
  EXPECT_EQ(ClientFileText("new.txt"), "new file");
}

TEST_F(WorkflowTest, ChainOfTwoPackagesRunsWithoutAQuestionAndSavesOnce) {
  PrepareClient(5, {{u"configs\\chain.cfg", "five"}});
  tree_->PutText(u"version", "7");
  tree_->Put(u"packs\\a.cup", testsupport::PackageBytes(5, 6, {{u"configs\\chain.cfg", "six"}}));
  tree_->Put(u"packs\\b.cup",
             testsupport::PackageBytes(6, 7, {{u"configs\\chain.cfg", "seven"}, {u"chain.txt", "seven plain"}}));
  tree_->PutText(u"patches\\list", "5 6 " + PackageUrl("packs/a.cup") + "\n6 7 " + PackageUrl("packs/b.cup") + "\n");
  // Whether the archive holds unsaved changes as each package step begins.
  std::vector<bool> unsavedAtStep;
  window_.OnEvent([&](const std::string& event) {
    if (event == "step: Загрузка пакета обновления: %d%%")
      unsavedAtStep.push_back(set_->archives().Find(u"configs")->indexChanged());
  });
  window_.Script({Answer::kYes});
  RunStartup();
  EXPECT_EQ(window_.Events("ask: "), (Events{kOffer}));
  EXPECT_EQ(unsavedAtStep, (std::vector<bool>{false, true})) << "the step to 6 is not saved on its own";
  EXPECT_TRUE(AllSaved());
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  EXPECT_EQ(Count(Log(), "INFO: Обновление завершено"), 2u);
  EXPECT_EQ(Count(Log(), "Загрузка списка"), 0u);
  EXPECT_EQ(VersionOnDisk(), 7);
  EXPECT_EQ(Archived(u"configs", u"configs\\chain.cfg"), "seven");
  EXPECT_EQ(ClientFileText("chain.txt"), "seven plain");
}

// Release 2 came with a package from 1, release 3 without one, so the patch list still
// names 1 to 2. A client at 1 takes that package once, then the change list to 3.
TEST_F(WorkflowTest, StalePackageLineEndsAtTheServerVersionWithBoundedRequests) {
  PrepareClient(1, {{u"configs\\stale.cfg", "one"}});
  tree_->PutText(u"version", "3");
  tree_->Put(u"packs\\1-2.cup", testsupport::PackageBytes(1, 2, {{u"configs\\stale.cfg", "two"}}));
  tree_->PutText(u"patches\\list", "1 2 " + PackageUrl("packs/1-2.cup") + "\n");
  tree_->PutChangeList(1, {{u"configs\\stale.cfg", "three"}});
  const std::size_t before = RequestCount();
  window_.Script({Answer::kYes});
  const bool ended = RunStartupWithin(std::chrono::seconds(60));
  // version; version, patches\\list, the package; version (the step to 3 goes on from it),
  // patches\\list, list_1, the file; version. Each version with the (optional) release manifest.
  const std::vector<std::string> requests = RequestLines(before, 13);
  ASSERT_TRUE(ended) << "the update has not ended: " << requests.size() << " requests so far";
  EXPECT_EQ(window_.Events("ask: "), (Events{kOffer}));
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  EXPECT_EQ(requests.size(), 13u) << ::testing::PrintToString(requests);
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const std::string& line) { return line.find("/version") != std::string::npos; }),
            4)
      << "once per comparison, and again after the offer";
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const std::string& line) { return line.find("/packs/1-2.cup") != std::string::npos; }),
            1);
  const std::string log = Log();
  EXPECT_NE(log.find("INFO: No update package from version 2 to 3"), std::string::npos) << log;
  EXPECT_EQ(Count(log, "INFO: Обновление завершено"), 2u);
  EXPECT_EQ(VersionOnDisk(), 3);
  EXPECT_EQ(Archived(u"configs", u"configs\\stale.cfg"), "three");
}

// A long chain of packages runs one step after the other, not one call deeper per step.
// A line that leads beyond the server's version is never taken: the change list brings the
// client to the server's release, and that is the version recorded.
TEST_F(WorkflowTest, PackageLineBeyondTheServerVersionIsNotTaken) {
  PrepareClient(1, {{u"configs\\c.cfg", "one"}});
  tree_->PutText(u"version", "2");
  tree_->Put(u"packs\\1-3.cup", testsupport::PackageBytes(1, 3, {{u"configs\\c.cfg", "three"}}));
  tree_->PutText(u"patches\\list", "1 3 " + PackageUrl("packs/1-3.cup") + "\n");
  tree_->PutChangeList(1, {{u"configs\\c.cfg", "two"}});
  const std::size_t before = RequestCount();
  window_.Script({Answer::kYes});
  RunStartup();
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  EXPECT_EQ(VersionOnDisk(), 2);
  EXPECT_EQ(Archived(u"configs", u"configs\\c.cfg"), "two");
  for (const std::string& line : RequestLines(before, 6))
    EXPECT_EQ(line.find("/packs/"), std::string::npos) << "the package was fetched: " << line;
  EXPECT_NE(Log().find("INFO: Update packages beyond the server's version 2 not taken: 1"), std::string::npos) << Log();
}

TEST_F(WorkflowTest, LongChainOfPackagesReachesTheServerVersion) {
  constexpr int kSteps = 40;
  PrepareClient(0);
  tree_->PutText(u"version", std::to_string(kSteps));
  std::string list;
  for (int step = 0; step < kSteps; ++step) {
    const std::string name = Numbered("packs/", step, ".cup");
    tree_->Put(Wide(Numbered("packs\\", step, ".cup")),
               testsupport::PackageBytes(step, step + 1, {{u"configs\\chain.cfg", Numbered("step ", step + 1)}}));
    list += std::to_string(step) + " " + std::to_string(step + 1) + " " + PackageUrl(name) + "\n";
  }
  tree_->PutText(u"patches\\list", list);
  // Where the stack stands as each step begins: one call deeper per step would move it by
  // the frames of a whole step each time.
  std::vector<uintptr_t> frames;
  window_.OnEvent([&](const std::string& event) {
    if (event == "step: Загрузка пакета обновления: %d%%")
      frames.push_back(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  });
  window_.Script({Answer::kYes});
  ASSERT_TRUE(RunStartupWithin(std::chrono::seconds(120))) << "the chain has not ended";
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kSteps));
  EXPECT_EQ(*std::min_element(frames.begin(), frames.end()), *std::max_element(frames.begin(), frames.end()))
      << "the stack grew by " << frames.front() - *std::min_element(frames.begin(), frames.end()) << " bytes";
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  EXPECT_EQ(Count(Log(), "INFO: Обновление завершено"), static_cast<std::size_t>(kSteps));
  EXPECT_EQ(VersionOnDisk(), kSteps);
  EXPECT_EQ(Archived(u"configs", u"configs\\chain.cfg"), Numbered("step ", kSteps));
}

TEST_F(WorkflowTest, PackageThatDoesNotApplyLeavesTheUpdateToTheFileList) {
  PrepareClient(5);
  tree_->PutText(u"version", "7");
  std::vector<uint8_t> package = testsupport::PackageBytes(5, 7, {{u"mend.txt", "from the package", false}});
  const std::string marker = "from the package";
  const auto at = std::search(package.begin(), package.end(), marker.begin(), marker.end());
  ASSERT_NE(at, package.end());
  *at = 'X';
  tree_->Put(u"packs\\bad.cup", package);
  tree_->PutText(u"patches\\list", "5 7 " + PackageUrl("packs/bad.cup") + "\n");
  tree_->PutChangeList(2, {{u"mend.txt", "from the list"}});
  window_.Script({Answer::kYes});
  RunStartup();
  EXPECT_EQ(window_.Events("step: "),
            (Events{"step: Чтение архивов: %d%%", "step: ", "step: Загрузка пакета обновления: %d%%",
                    "step: Обновление файлов: %d%%", "step: Загрузка списка файлов: %d%%",
                    "step: Обновление файлов: %d%%", "step: Сохранение архивов: %d%%", "step: ", "step: "}));
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  EXPECT_NE(Log().find("ERROR: Package record does not match: mend.txt"), std::string::npos);
  EXPECT_EQ(Count(Log(), "INFO: Обновление завершено"), 1u);
  EXPECT_EQ(ClientFileText("mend.txt"), "from the list");
  EXPECT_EQ(VersionOnDisk(), 7);
}

TEST_F(WorkflowTest, FailedFileAnsweredNoKeepsTheVersionSavesAndOffersAgain) {
  PrepareClient(5);
  tree_->PutText(u"version", "7");
  tree_->PutChangeList(2, {{u"good.txt", "good"}, {u"configs\\bad.cfg", "never arrives"}});
  RemoveStoredFile("configs\\bad.cfg");
  RemoveStoredFile("configs/bad.cfg");
  std::filesystem::remove_all(std::filesystem::path(nginx_.root) / "files" / "configs");
  window_.Script({Answer::kYes, Answer::kCountDownEnds, Answer::kNo, Answer::kNo});
  RunStartup();
  EXPECT_EQ(window_.Events("ask: "), (Events{kOffer, kFileRetry, kFileRetry, kOffer}));
  EXPECT_EQ(workflow_->state(), WorkflowState::kUpdateNeeded);
  EXPECT_TRUE(AllSaved());
  const std::string log = Log();
  EXPECT_EQ(Count(log, "ERROR: Ошибка обновления файла\r\n"), 2u);
  EXPECT_EQ(Count(log, "INFO: Обновление завершено"), 1u);
  EXPECT_EQ(VersionOnDisk(), 5);
}

// A save that cannot be written (here: no room for the new version file) is reported with
// the question about disk space; no version is recorded unless a retry succeeds.
TEST_F(WorkflowTest, FailedSaveAsksAboutDiskSpaceAndRecordsNoVersion) {
  const std::filesystem::path blocker = temp_ / "config" / "velkar" / "version.sw.~part";
  for (const bool retried : {false, true}) {
    SCOPED_TRACE(retried ? "retried once there is room" : "declined");
    PrepareClient(5);
    tree_->PutText(u"version", "7");
    tree_->PutChangeList(2, {{u"saved.txt", "saved"}});
    std::filesystem::create_directories(blocker);
    if (retried) {
      window_.OnEvent([&](const std::string& event) {
        if (event.rfind("ask: Ошибка обновления |", 0) == 0) std::filesystem::remove(blocker);
      });
      window_.Script({Answer::kYes, Answer::kCountDownEnds});
    } else {
      window_.Script({Answer::kYes, Answer::kNo, Answer::kNo});
    }
    const std::size_t before = window_.Events().size();
    const std::size_t logged = Log().size();
    RunStartup();
    window_.OnEvent(nullptr);
    const Events all = window_.Events();
    Events questions;
    for (auto event = all.begin() + static_cast<std::ptrdiff_t>(before); event != all.end(); ++event)
      if (event->rfind("ask: ", 0) == 0) questions.push_back(*event);
    const std::string log = Log().substr(logged);
    EXPECT_NE(log.find("ERROR: Can't create file "), std::string::npos) << log;
    EXPECT_EQ(ClientFileText("saved.txt"), "saved") << "the files stay updated";
    if (retried) {
      EXPECT_EQ(questions, (Events{kOffer, kManualWrite}));
      EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
      EXPECT_EQ(Count(log, "INFO: Обновление завершено"), 1u);
      EXPECT_EQ(VersionOnDisk(), 7);
    } else {
      EXPECT_EQ(questions, (Events{kOffer, kManualWrite, kOffer}));
      EXPECT_EQ(workflow_->state(), WorkflowState::kUpdateNeeded);
      EXPECT_EQ(Count(log, "INFO: Обновление завершено"), 0u);
      std::filesystem::remove(blocker);
      EXPECT_EQ(VersionOnDisk(), 5);
    }
  }
}

TEST_F(WorkflowTest, ListFailureRetriesOnItsCountDownThenEndsInServerError) {
  PrepareClient(5);
  tree_->PutText(u"version", "7");
  window_.Script({Answer::kYes, Answer::kCountDownEnds, Answer::kNo});
  RunStartup();
  EXPECT_EQ(window_.Events("ask: "), (Events{kOffer, kListRetry, kListRetry}));
  const Events events = window_.Events();
  EXPECT_EQ(Events(events.end() - 4, events.end()),
            (Events{kListRetry, "buttons: Server error", "status: Ошибка сервера обновлений", "step: "}));
  EXPECT_EQ(workflow_->state(), WorkflowState::kServerError);
  EXPECT_EQ(Count(Log(), "ERROR: Ошибка загрузки списка файлов\r\n"), 2u);
  EXPECT_EQ(VersionOnDisk(), 5);
}

// With the operator's key a server that signs nothing is refused in the product's words, and a
// retry asks the server again.
TEST_F(WorkflowTest, UnsignedReleaseAsksInItsOwnWordsAndEndsInServerError) {
  PrepareClient(5);
  tree_->PutText(u"version", "6");
  tree_->PutChangeList(1, {{u"new.txt", "new"}});
  const std::optional<KeyPair> key = NewKeyPair();
  ASSERT_TRUE(key);
  set_->server().SetReleaseKeys({key->publicKey});
  window_.Script({Answer::kYes, Answer::kNo});
  RunStartup();
  const std::string unverified = "ask: Ошибка | Обновление не прошло проверку подписи.\nПовторить попытку? | 0";
  EXPECT_EQ(window_.Events("ask: "), (Events{unverified, unverified}));
  EXPECT_EQ(workflow_->state(), WorkflowState::kServerError);
  EXPECT_NE(Log().find("ERROR: Release not verified: no signed release manifest\r\n"), std::string::npos) << Log();
  EXPECT_EQ(ClientFileText("new.txt"), "<absent>");
  EXPECT_EQ(VersionOnDisk(), 5);
}

TEST_F(WorkflowTest, CheckAsksFirstRepairsTheClientAndEndsReady) {
  PrepareClient(7, {{u"gfx\\damaged.tga", "garbage"}});
  tree_->PutText(u"version", "7");
  const std::vector<ListedFile> files = {{u"gfx\\damaged.tga", std::string(5000, 'g')}, {u"readme.txt", "readme"}};
  tree_->PutFullList(7, files);
  ASSERT_TRUE(workflow_->LoadArchives());
  const std::size_t requests = RequestCount();
  window_.Script({Answer::kNo});
  EXPECT_FALSE(workflow_->ConfirmCheck());
  workflow_->WaitForWorkers();
  EXPECT_EQ(RequestCount(), requests) << "declined: nothing runs";

  window_.Script({Answer::kYes});
  const std::size_t before = window_.Events().size();
  ASSERT_TRUE(workflow_->ConfirmCheck());
  workflow_->WaitForWorkers();
  const Events all = window_.Events();
  EXPECT_EQ(Events(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
            (Events{"ask: Подтвердите действие | Вы действительно хотите выполнить проверку клиента? | 0",
                    "buttons: Working", "status: Проверка клиента...", "step: Загрузка списка файлов: %d%%",
                    "step: Проверка файлов: %d%%", "step: Сохранение архивов: %d%%", "step: ",
                    "version: Версия клиента: 7", "buttons: Ready", "status: Клиент готов к запуску", "step: "}));
  EXPECT_EQ(Archived(u"gfx", u"gfx\\damaged.tga"), files[0].content);
  EXPECT_EQ(ClientFileText("readme.txt"), "readme");

  // A file that keeps failing, answered no: the check still ends Ready.
  tree_->PutFullList(7, {{u"lost.txt", "lost"}});
  RemoveStoredFile("lost.txt");
  window_.Script({Answer::kYes, Answer::kNo});
  ASSERT_TRUE(workflow_->ConfirmCheck());
  workflow_->WaitForWorkers();
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  const std::string log = Log();
  EXPECT_EQ(Count(log, "INFO: Проверка клиента..."), 2u);
  EXPECT_EQ(Count(log, "INFO: Проверка завершена"), 2u);
  EXPECT_EQ(Count(log, "Загрузка пакета"), 0u);
}

// A client above its server (after any cause) is never stuck: a check goes by the full list
// and records the server's release. A full list of another release is refused.
TEST_F(WorkflowTest, CheckBringsAClientAboveItsServerBackAndRefusesAnotherRelease) {
  PrepareClient(9, {{u"gfx\\a.tga", "from 9"}});
  tree_->PutText(u"version", "3");
  tree_->PutFullList(99, {{u"gfx\\a.tga", "from 3"}});
  ASSERT_TRUE(workflow_->LoadArchives());
  window_.Script({Answer::kYes, Answer::kNo});
  ASSERT_TRUE(workflow_->ConfirmCheck());
  workflow_->WaitForWorkers();
  EXPECT_EQ(workflow_->state(), WorkflowState::kServerError);
  EXPECT_EQ(window_.Events("ask: ").back(), kListRetry);
  EXPECT_NE(Log().find("ERROR: The full list is of release 99, the server's version is 3"), std::string::npos);
  EXPECT_EQ(Archived(u"gfx", u"gfx\\a.tga"), "from 9") << "nothing of the other release was applied";

  tree_->PutFullList(3, {{u"gfx\\a.tga", "from 3"}});
  window_.Script({Answer::kYes});
  ASSERT_TRUE(workflow_->ConfirmCheck());
  workflow_->WaitForWorkers();
  EXPECT_EQ(workflow_->state(), WorkflowState::kReady);
  EXPECT_EQ(Archived(u"gfx", u"gfx\\a.tga"), "from 3");
  EXPECT_EQ(VersionOnDisk(), 3);
}

std::vector<ListedFile> ManyFiles(int count) {
  std::vector<ListedFile> files;
  for (int i = 0; i < count; ++i) files.push_back({Wide(Numbered("many\\f", i, ".txt")), Numbered("text ", i)});
  return files;
}

// A client at 5 whose update to 7, from the scripted server, is held at its second file.
class HeldPassTest : public WorkflowTest {
 protected:
  void StartHeldUpdate() {
    PrepareClient(5);
    ASSERT_TRUE(server_.listening());
    ServeFrom(server_.port());
    testsupport::ScriptedRelease release(server_);
    release.Version(7);
    release.ChangeList(2, ManyFiles(20), secondFile_);
    // One download at a time: the second request is the second file's.
    set_->SetConnections(1);
    ASSERT_TRUE(workflow_->LoadArchives());
    ASSERT_TRUE(workflow_->StartUpdate());
    ASSERT_TRUE(secondFile_->WaitHolding(testsupport::kWaitLimit)) << "the pass never asked for a second file";
  }
  // The first file was handled, the held one and those after it were not.
  void ExpectStoppedAtTheHeldFile() {
    EXPECT_FALSE(set_->fileTable().empty()) << "the pass stopped early";
    EXPECT_LT(set_->fileTable().size(), 20u);
  }

  testsupport::ScriptedHttpServer server_;
  const std::shared_ptr<testsupport::Gate> secondFile_ = std::make_shared<testsupport::Gate>(1);
};

// The pass is held at its second file until the close has been asked for: it cannot end
// first, and the close cancels it in the middle.
TEST_F(HeldPassTest, CloseDuringAPassAsksCancelsAndWaitsForThePass) {
  window_.Script({Answer::kYes});
  ASSERT_NO_FATAL_FAILURE(StartHeldUpdate());
  EXPECT_TRUE(workflow_->ConfirmClose());
  workflow_->CancelPass();
  EXPECT_FALSE(set_->busy()) << "close returns once the pass has stopped";
  workflow_->WaitForWorkers();
  EXPECT_EQ(window_.Events("ask: "),
            (Events{"ask: Обновление не завершено | Вы действительно хотите отменить текущую операцию и выйти? | 0"}));
  EXPECT_EQ(window_.Events().back(), "step: Операция отменена");
  EXPECT_EQ(workflow_->state(), WorkflowState::kCancelled);
  ExpectStoppedAtTheHeldFile();
  const std::string log = Log();
  EXPECT_NE(log.find("INFO: Операция отменена"), std::string::npos);
  EXPECT_EQ(log.find("Обновление завершено"), std::string::npos);
  EXPECT_EQ(VersionOnDisk(), 5);
}

TEST_F(WorkflowTest, CloseDuringAPackageDownloadCancelsItAtOnce) {
  PrepareClient(5, {{u"configs\\kept.cfg", "five"}});
  // The same client, updated from a server whose package stops coming after 512 KiB.
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  ServeFrom(server.port());
  testsupport::ScriptedResponse version;
  version.body = "7";
  server.Serve("/version", version);
  testsupport::ScriptedResponse list;
  list.body = Numbered("5 7 http://127.0.0.1:", server.port(), "/packs/big.cup\n");
  server.Serve("/patches\\list", list);
  server.Serve("/patches/list", list);
  testsupport::ScriptedResponse package;
  package.body = std::string(8u << 20, 'p');
  package.stallAfter = 512u << 10;
  server.Serve("/packs/big.cup", package);

  window_.Script({Answer::kYes, Answer::kYes});
  ASSERT_TRUE(workflow_->StartStartup());
  ASSERT_TRUE(testsupport::WaitUntil([&] { return set_->busy() && server.bodyBytesSent() >= (512u << 10); },
                                     std::chrono::seconds(20)))
      << "the package download did not begin";
  const auto closed = std::chrono::steady_clock::now();
  EXPECT_TRUE(workflow_->ConfirmClose());
  workflow_->CancelPass();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - closed).count();
  // Within about a second; the server would have held the download for 30 more.
  EXPECT_LT(seconds, 5.0) << "close returns once the download has stopped";
  EXPECT_FALSE(set_->busy());
  workflow_->WaitForWorkers();
  EXPECT_EQ(window_.Events("ask: "),
            (Events{kOffer,
                    "ask: Обновление не завершено | Вы действительно хотите отменить текущую операцию и выйти? | 0"}));
  EXPECT_EQ(window_.Events().back(), "step: Операция отменена");
  EXPECT_EQ(workflow_->state(), WorkflowState::kCancelled);
  const std::string all = Log();
  // From the update on: the archives were created before it.
  const std::string log = all.substr(std::min(all.size(), all.find("INFO: Обновление клиента...")));
  EXPECT_NE(log.find("INFO: Операция отменена"), std::string::npos) << all;
  EXPECT_EQ(log.find("ERROR"), std::string::npos) << "a cancel is no failure: " << log;
  EXPECT_EQ(log.find("Загрузка списка"), std::string::npos) << "no file list after a cancelled package";
  EXPECT_EQ(log.find("Обновление завершено"), std::string::npos);
  // The archives open, unchanged, at the old version.
  EXPECT_EQ(VersionOnDisk(), 5);
  EXPECT_EQ(Archived(u"configs", u"configs\\kept.cfg"), "five");
}

TEST_F(WorkflowTest, FailureThrownInsideAnOperationEndsItAsAServerError) {
  PrepareClient(5);
  tree_->PutText(u"version", "7");
  ASSERT_TRUE(workflow_->LoadArchives());
  window_.ThrowOn("status: Обновление клиента...");
  ASSERT_TRUE(workflow_->StartUpdate());
  workflow_->WaitForWorkers();
  EXPECT_EQ(workflow_->state(), WorkflowState::kServerError);
  const Events events = window_.Events();
  EXPECT_EQ(Events(events.end() - 4, events.end()),
            (Events{"close: on", "step: ", "buttons: Server error", "status: Ошибка сервера обновлений"}));
  EXPECT_FALSE(set_->busy());
  EXPECT_NE(Log().find("ERROR: Operation failed: the window failed at status: Обновление клиента..."),
            std::string::npos)
      << Log();
  EXPECT_EQ(VersionOnDisk(), 5);
}

TEST_F(WorkflowTest, CloseWhileIdleEndsAtOnce) {
  PrepareClient(5);
  ASSERT_TRUE(workflow_->LoadArchives());
  EXPECT_TRUE(workflow_->ConfirmClose());
  workflow_->CancelPass();
  EXPECT_TRUE(window_.Events("ask: ").empty());
}

TEST_F(HeldPassTest, StopJoinsAWorkerInTheMiddleOfAPass) {
  ASSERT_NO_FATAL_FAILURE(StartHeldUpdate());
  workflow_.reset();
  window_.Close();
  EXPECT_FALSE(set_->busy());
  ExpectStoppedAtTheHeldFile();
  // Nothing reaches the window once the workflow is gone.
  const std::size_t events = window_.Events().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(window_.Events().size(), events);
}

TEST_F(WorkflowTest, ManualPackageResults) {
  const std::u16string good = temp_.U16("good.cup");
  const std::u16string tooNew = temp_.U16("too-new.cup");
  const std::u16string blocked = temp_.U16("blocked.cup");
  const std::u16string noArchive = temp_.U16("no-archive.cup");
  const std::u16string missing = temp_.U16("missing.cup");
  WriteWholeFile(temp_ / "good.cup", testsupport::PackageBytes(0, 9, {{u"manual.txt", "manual"}}));
  WriteWholeFile(temp_ / "too-new.cup", testsupport::PackageBytes(6, 9, {{u"manual.txt", "too new"}}));
  WriteWholeFile(temp_ / "blocked.cup", testsupport::PackageBytes(0, 9, {{u"blocked.txt", "blocked"}}));
  WriteWholeFile(temp_ / "no-archive.cup", testsupport::PackageBytes(0, 9, {{u"models\\a.ski", "model"}}));
  const struct {
    const char* name;
    std::u16string path;
    std::vector<Answer> answers;
    std::vector<std::optional<std::u16string>> dialogs;
    Events questions;
    int32_t version;
    WorkflowState state;
  } cases[] = {
      {.name = "applied",
       .path = good,
       .answers = {},
       .dialogs = {},
       .questions = {},
       .version = 9,
       .state = WorkflowState::kReady},
      {.name = "cannot open, no",
       .path = missing,
       .answers = {Answer::kNo, Answer::kNo},
       .dialogs = {},
       .questions = {kManualCannotOpen, kOffer},
       .version = 5,
       .state = WorkflowState::kUpdateNeeded},
      {.name = "cannot open, another file",
       .path = missing,
       .answers = {Answer::kYes},
       .dialogs = {good},
       .questions = {kManualCannotOpen},
       .version = 9,
       .state = WorkflowState::kReady},
      {.name = "cannot open, dialog cancelled",
       .path = missing,
       .answers = {Answer::kYes, Answer::kNo},
       .dialogs = {std::nullopt},
       .questions = {kManualCannotOpen, kOffer},
       .version = 5,
       .state = WorkflowState::kUpdateNeeded},
      {.name = "client too old",
       .path = tooNew,
       .answers = {Answer::kNo, Answer::kNo},
       .dialogs = {},
       .questions = {kManualTooLow, kOffer},
       .version = 5,
       .state = WorkflowState::kUpdateNeeded},
      {.name = "plain file not written, retried",
       .path = blocked,
       .answers = {Answer::kCountDownEnds, Answer::kNo, Answer::kNo},
       .dialogs = {},
       .questions = {kManualWrite, kManualWrite, kOffer},
       .version = 5,
       .state = WorkflowState::kUpdateNeeded},
      {.name = "archive not open",
       .path = noArchive,
       .answers = {Answer::kNo, Answer::kNo},
       .dialogs = {},
       .questions = {kManualWrite, kOffer},
       .version = 5,
       .state = WorkflowState::kUpdateNeeded},
  };
  tree_->PutText(u"version", "9");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PrepareClient(5);
    std::filesystem::create_directories(temp_ / "velkar" / "blocked.txt");
    std::filesystem::remove(temp_ / "velkar" / "manual.txt");
    // models held by another program: it can be neither opened nor made afresh.
    platform::File holder;
    if (c.path == noArchive) {
      ASSERT_EQ(holder.Open((temp_ / "velkar" / "models.pck").u16string(), platform::FileMode::kReadWrite), 0);
      window_.Script({Answer::kNo});
      ASSERT_FALSE(workflow_->LoadArchives());
      ASSERT_EQ(set_->archives().Find(u"models"), nullptr);
    } else {
      ASSERT_TRUE(workflow_->LoadArchives());
    }
    for (Answer answer : c.answers) window_.Script({answer});
    for (const auto& dialog : c.dialogs) window_.ScriptDialog(dialog);
    const std::size_t before = window_.Events().size();
    ASSERT_TRUE(workflow_->StartManualUpdate(c.path));
    workflow_->WaitForWorkers();
    const Events all = window_.Events();
    const Events events(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(Events(events.begin(), events.begin() + 3),
              (Events{"buttons: Working", "status: Обновление клиента...", "step: Обновление файлов: %d%%"}));
    Events questions;
    for (const std::string& event : events)
      if (event.rfind("ask: ", 0) == 0) questions.push_back(event);
    EXPECT_EQ(questions, c.questions);
    EXPECT_EQ(workflow_->state(), c.state);
    EXPECT_EQ(window_.UnusedAnswers(), 0u);
    // Closing steps ran exactly once, after the last attempt.
    EXPECT_EQ(std::count(events.begin(), events.end(), "step: Сохранение архивов: %d%%"), 1);
    EXPECT_TRUE(AllSaved());
    holder.Close();
    EXPECT_EQ(VersionOnDisk(), c.version);
    if (c.version == 9) {
      EXPECT_EQ(ClientFileText("manual.txt"), "manual");
    }
  }
}

}  // namespace
