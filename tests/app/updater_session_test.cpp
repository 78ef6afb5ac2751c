// The updater's session on the portable toolkit: the main window's controls bound to the
// workflow, the close and its cancel, Play with the graphics switch, the dialogs and links, and
// the order in which it ends.

#include "app/updater_session.h"

#include <filesystem>

#include "app/session_fixture.h"
#include "engine/client_archive_set.h"
#include "support/file_bytes.h"
#include "ui/browser.h"
#include "workflow/update_workflow.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

namespace {

using testsupport::ListedFile;

class UpdaterSessionTest : public SessionFixture {
 protected:
  // The test process's working folder is the updater's folder while the window lives (the
  // graphics switch is found from it).
  void SetUp() override {
    SessionFixture::SetUp();
    previousFolder_ = std::filesystem::current_path();
    std::filesystem::current_path(temp_ / "patcher");
  }
  void TearDown() override {
    SessionFixture::TearDown();
    std::filesystem::current_path(previousFolder_);
  }

  // Shown and at rest in the Ready state.
  void StartReady(int32_t version) {
    PrepareClient(version);
    release_.Version(version);
    MakeSession();
    form().Show();
    ASSERT_TRUE(PumpUntil([&] { return ShowsStatus("Клиент готов к запуску") && !session_->workflow().Running(); }))
        << "status: " << TextOf("Label1");
  }
  Ormel::testing::FakeBrowserHost& BrowserHost() {
    return *dynamic_cast<Ormel::testing::FakeBrowserHost*>(form().FindAs<Ormel::Browser>("Browser")->host());
  }
  Ormel::testing::FakeFormWindow& BoxWindow() {
    return *dynamic_cast<Ormel::testing::FakeFormWindow*>(questions_->window());
  }
  std::string SwitchFile() const {
    const auto path = temp_ / "config" / "patcher" / "nogfx.cfg";
    return std::filesystem::exists(path) ? AsText(ReadWholeFile(path)) : "<absent>";
  }

  std::filesystem::path previousFolder_;
};

TEST_F(UpdaterSessionTest, StartsHiddenThenShowsTheClientReady) {
  PrepareClient(5);
  release_.Version(5);
  MakeSession();
  EXPECT_EQ(form().text(), u"Solmere 3 Classic Updater");
  // The browser pane, shown by the system as it is made, waits for the window.
  EXPECT_EQ(BrowserHost().calls.back(), "hide");
  form().Show();
  EXPECT_EQ(BrowserHost().calls.back(), "show");
  ASSERT_TRUE(PumpUntil([&] { return ShowsStatus("Клиент готов к запуску") && !session_->workflow().Running(); }))
      << "status: " << TextOf("Label1");
  EXPECT_EQ(TextOf("Label2"), "Версия клиента: 5");
  EXPECT_EQ(TextOf("TotalProgress"), "");
  EXPECT_TRUE(Enabled("PlayButton"));
  EXPECT_TRUE(Enabled("CheckButton"));
  EXPECT_FALSE(Enabled("UpdateButton"));
  EXPECT_FALSE(Enabled("ManualButton"));
  EXPECT_TRUE(Enabled("CloseButton"));
  session_.reset();
  const std::string log = LogUtf8();
  EXPECT_EQ(log.rfind("\r\n[", 0), 0u) << "the run begins with an empty line:\n" << log;
  EXPECT_NE(log.find("INFO: Патчер запущен\r\n"), std::string::npos) << log;
  EXPECT_LT(log.find("Патчер запущен"), log.find("Патчер закрыт"));
  EXPECT_EQ(log.substr(log.size() - std::string("INFO: Патчер закрыт\r\n").size()), "INFO: Патчер закрыт\r\n") << log;
}

TEST_F(UpdaterSessionTest, AWindowNeverShownAsksNothingAndEndsItsWork) {
  // The client is behind: the start-up worker would offer the update at once.
  PrepareClient(1);
  release_.Version(2);
  MakeSession();
  ASSERT_TRUE(PumpUntil([&] { return ShowsStatus("Требуется обновление"); })) << "status: " << TextOf("Label1");
  // What a hand-over to the launcher program does: the window goes without being shown.
  session_.reset();
  EXPECT_FALSE(questions_->asking());
  EXPECT_EQ(BoxWindow().showCalls, 0) << "a question box appeared for a window never shown";
  EXPECT_EQ(LogUtf8().find("Обновление клиента..."), std::string::npos);
  EXPECT_EQ(VersionOnDisk(), 1);
}

TEST_F(UpdaterSessionTest, CloseWhileIdleEndsAtOnceWithoutAQuestion) {
  StartReady(5);
  Click("CloseButton");
  EXPECT_EQ(backend_.repostedQuit, 0);
  EXPECT_EQ(BoxWindow().showCalls, 0);
}

// A client at 1 whose update to 2 holds one download half-way until the test lets it go:
// the pass is busy, and cannot end before the test acts.
class CloseDuringUpdateTest : public UpdaterSessionTest {
 protected:
  void StartHeldUpdate() {
    PrepareClient(1, {{u"models\\a.ski", "old model"}});
    release_.Version(2);
    files_ = {{u"models\\a.ski", std::string(20000, 'm')},
              {u"models\\held.ski", std::string(50000, 'h')},
              {u"models\\z.ski", "last"}};
    release_.ChangeList(1, files_, held_, u"models\\held.ski");
    MakeSession();
    std::future<std::string> offer = AnswerNextQuestion(kYes);
    form().Show();
    ASSERT_TRUE(PumpUntil([&] { return held_->holding(); })) << "no download was held; status: " << TextOf("Label1");
    EXPECT_TRUE(session_->archives().busy());
    EXPECT_EQ(offer.get(), "Требуется обновление | Обновить клиент?");
  }
  std::vector<ListedFile> files_;
  std::shared_ptr<testsupport::Gate> held_ = std::make_shared<testsupport::Gate>();
};

TEST_F(CloseDuringUpdateTest, NoLetsTheUpdateGoOn) {
  StartHeldUpdate();
  std::future<std::string> question = AnswerNextQuestion(kNo);
  Click("CloseButton");
  EXPECT_EQ(question.get(), "Обновление не завершено | Вы действительно хотите отменить текущую операцию и выйти?");
  EXPECT_FALSE(backend_.repostedQuit.has_value());
  held_->Open();
  ASSERT_TRUE(PumpUntil([&] { return ShowsStatus("Клиент готов к запуску"); })) << TextOf("Label1");
  session_.reset();
  EXPECT_EQ(VersionOnDisk(), 2);
}

TEST_F(CloseDuringUpdateTest, YesCancelsKeepsTheWindowDrawingAndEnds) {
  StartHeldUpdate();
  auto& window = *backend_.lastWindow;
  std::future<std::string> question = AnswerNextQuestion(kYes);
  const int presentsBefore = window.presents();
  Click("CloseButton");
  question.get();
  // The click returns once the pass has stopped; meanwhile the window went on composing.
  EXPECT_FALSE(session_->archives().busy());
  EXPECT_GT(window.presents(), presentsBefore);
  EXPECT_EQ(backend_.repostedQuit, 0);
  EXPECT_EQ(TextOf("TotalProgress"), "Операция отменена");
  session_.reset();
  const std::string log = LogUtf8();
  EXPECT_NE(log.find("INFO: Операция отменена"), std::string::npos);
  EXPECT_EQ(log.find("Обновление завершено"), std::string::npos);
  EXPECT_EQ(VersionOnDisk(), 1);
}

TEST_F(CloseDuringUpdateTest, TheEndWhileAPassRunsStopsItFirst) {
  StartHeldUpdate();
  // The window goes at once (the system ends the program): the pass is stopped and joined
  // before the archive set goes.
  session_.reset();
  EXPECT_EQ(VersionOnDisk(), 1);
  EXPECT_NE(LogUtf8().find("INFO: Патчер закрыт"), std::string::npos);
}

TEST_F(UpdaterSessionTest, ASystemCloseWhileAWorkersQuestionIsOpenAnswersNoAndEnds) {
  PrepareClient(1);
  release_.Version(2);
  MakeSession();
  form().Show();
  ASSERT_TRUE(PumpUntil([&] { return questions_->asking(); })) << "no question was asked";
  EXPECT_EQ(BrowserHost().calls.back(), "disable") << "the page takes no input while a question is open";
  EXPECT_TRUE(form().OnClose());
  ASSERT_TRUE(PumpUntil([&] { return !questions_->asking() && !session_->workflow().Running(); }))
      << "the question or the workflow did not end";
  EXPECT_EQ(backend_.repostedQuit, 0);
  EXPECT_EQ(BrowserHost().calls.back(), "enable");
  session_.reset();
  EXPECT_EQ(LogUtf8().find("Обновление клиента..."), std::string::npos) << "the open offer was answered no";
  EXPECT_EQ(VersionOnDisk(), 1);
}

TEST_F(UpdaterSessionTest, PlayStartsTheClientWithTheSwitchsArgumentsAndEnds) {
  struct Case {
    bool noGraphics;
    const char16_t* arguments;
  };
  for (const Case c : {Case{false, u"console:0 arc:1"}, Case{true, u"console:0 arc:1 nogfx"}}) {
    SCOPED_TRACE(c.noGraphics);
    StartReady(3);
    if (c.noGraphics) Click("NoGfxButton");
    backend_.repostedQuit.reset();
    const std::size_t before = desktop_.starts().size();
    Click("PlayButton");
    const auto starts = desktop_.starts();
    ASSERT_EQ(starts.size(), before + 1);
    EXPECT_EQ(starts.back().program, (temp_ / "velkar" / "velkarclient.exe").lexically_normal().u16string());
    EXPECT_EQ(starts.back().commandLine, c.arguments);
    EXPECT_EQ(starts.back().folder, (temp_ / "velkar").lexically_normal().u16string());
    EXPECT_EQ(session_->archives().archives().Find(u"models"), nullptr) << "the client finds its archives closed";
    EXPECT_EQ(backend_.repostedQuit, 0);
    session_.reset();
    std::filesystem::remove(temp_ / "config" / "patcher" / "nogfx.cfg");
  }
}

TEST_F(UpdaterSessionTest, AFailedPlayOpensTheArchivesAgain) {
  StartReady(3);
  desktop_.startsFail = true;
  Click("PlayButton");
  EXPECT_FALSE(backend_.repostedQuit.has_value()) << "the window stays";
  ASSERT_TRUE(PumpUntil([&] { return ShowsStatus("Клиент готов к запуску") && !session_->workflow().Running(); }))
      << "status: " << TextOf("Label1");
  EXPECT_TRUE(session_->archives().archives().allOpen());
  EXPECT_EQ(session_->archives().ReadLocalVersion(), 3) << "a later check or update finds the client as it is";
}

TEST_F(UpdaterSessionTest, GraphicsSwitchFileAndButtons) {
  struct Case {
    const char* stored;  // nullptr: no file
    bool on;
    const char* rewritten;
  };
  for (const Case c : {Case{nullptr, false, "0"}, Case{"2", true, "1"}, Case{"", false, "0"}, Case{"0", false, "0"},
                       Case{"1\r\n", true, "1"}}) {
    SCOPED_TRACE(c.stored != nullptr ? c.stored : "no file");
    std::filesystem::remove_all(temp_ / "config" / "patcher");
    if (c.stored != nullptr) {
      std::filesystem::create_directories(temp_ / "config" / "patcher");
      WriteWholeFile(temp_ / "config" / "patcher" / "nogfx.cfg", std::string(c.stored));
    }
    StartReady(3);
    // What the start-up does with it.
    session_->ShowStoredGraphicsSwitch();
    EXPECT_EQ(SwitchFile(), c.rewritten);
    const char* shown = c.on ? "NoGfxCheckedButton" : "NoGfxButton";
    const char* hidden = c.on ? "NoGfxButton" : "NoGfxCheckedButton";
    EXPECT_TRUE(form().Find(shown)->visible() && Enabled(shown));
    EXPECT_TRUE(!form().Find(hidden)->visible() && !Enabled(hidden));
    // Two clicks on the visible button bring buttons and file back.
    if (c.on) {
      Click("NoGfxCheckedButton");
    } else {
      Click("NoGfxButton");
    }
    EXPECT_EQ(SwitchFile(), c.on ? "0" : "1");
    EXPECT_TRUE(form().Find(hidden)->visible() && Enabled(hidden));
    EXPECT_TRUE(!form().Find(shown)->visible() && !Enabled(shown));
    if (c.on) {
      Click("NoGfxButton");
    } else {
      Click("NoGfxCheckedButton");
    }
    EXPECT_EQ(SwitchFile(), c.rewritten);
    EXPECT_TRUE(form().Find(shown)->visible() && Enabled(shown));
    session_.reset();
  }
}

TEST_F(UpdaterSessionTest, ManualButtonsDialogUsesOnePatternAndStartsOnlyOnAChoice) {
  StartReady(3);
  desktop_.chosenFile.reset();
  Click("ManualButton");
  EXPECT_EQ(desktop_.calls().back(), "dialog Файл ручного обновления Solmere Classic (*.cup) | *.cup | ");
  EXPECT_FALSE(session_->workflow().Running()) << "a cancelled dialog starts nothing";
  EXPECT_TRUE(ShowsStatus("Клиент готов к запуску"));

  // A file that is no package: the operation runs and asks for another file, whose dialog
  // comes pre-filled with the first choice.
  WriteWholeFile(temp_ / "not-a-package.cup", std::string("nothing"));
  desktop_.chosenFile = temp_.U16("not-a-package.cup");
  std::future<std::string> question = AnswerNextQuestion(kNo);
  Click("ManualButton");
  EXPECT_EQ(question.get(), "Ошибка обновления | Не удалось открыть файл ручного обновления.\nВыбрать другой файл?");
  ASSERT_TRUE(PumpUntil([&] { return !session_->workflow().Running(); })) << "the workflow did not end";
  EXPECT_EQ(session_->workflow().manualPackagePath(), temp_.U16("not-a-package.cup"));
  desktop_.chosenFile.reset();
  Click("ManualButton");
  EXPECT_EQ(desktop_.calls().back(), "dialog Файл ручного обновления Solmere Classic (*.cup) | *.cup | " +
                                         (temp_ / "not-a-package.cup").string());
}

TEST_F(UpdaterSessionTest, LinksOpenTheirAddressAndALinkWithoutOneDoesNothing) {
  StartReady(3);
  form().Find("HomeButton")->OnClick(Ormel::kLeftButton, 5, 5);
  form().Find("SocialButton")->OnClick(Ormel::kLeftButton, 5, 5);
  const std::size_t calls = desktop_.calls().size();
  form().Find("RegisterButton")->OnClick(Ormel::kLeftButton, 5, 5);
  EXPECT_EQ(desktop_.calls().size(), calls);
  const auto recorded = desktop_.calls();
  EXPECT_EQ(recorded[calls - 2], "open https://solmere-classic.example/");
  EXPECT_EQ(recorded[calls - 1], "open https://solmere-classic.example/community");
}

TEST_F(UpdaterSessionTest, CheckAsksFirstAndANoStartsNothing) {
  StartReady(3);
  std::future<std::string> question = AnswerNextQuestion(kNo);
  form().Find("CheckButton")->OnClick(Ormel::kLeftButton, 5, 5);
  EXPECT_EQ(question.get(), "Подтвердите действие | Вы действительно хотите выполнить проверку клиента?");
  EXPECT_FALSE(session_->workflow().Running());
  EXPECT_TRUE(ShowsStatus("Клиент готов к запуску"));
}

}  // namespace
