// The updater's start-up sequence on the toolkit's screenless backend and a scripted desktop:
// one updater at a time, the running client's question, the updater's own version and the
// hand-over, the log, and the exit code.

#include "app/updater_startup.h"

#include <algorithm>
#include <filesystem>

#include "app/session_fixture.h"
#include "support/client_log.h"
#include "support/file_bytes.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

namespace {

class UpdaterStartupTest : public SessionFixture {
 protected:
  // The updater runs from R\patcher with R\patcher as its working folder unless a test moves it.
  void SetUp() override {
    SessionFixture::SetUp();
    previousFolder_ = std::filesystem::current_path();
    std::filesystem::create_directories(temp_ / "patcher" / "skin");
    std::filesystem::current_path(temp_ / "patcher");
    // The log of the run goes to the working folder.
    testsupport::ProcessLog::Close();
    std::filesystem::remove(temp_ / "log.txt");
  }
  void TearDown() override {
    std::filesystem::current_path(previousFolder_);
    SessionFixture::TearDown();
  }

  int Run(const std::filesystem::path& programFolder, bool ownUpdateFailed = false) {
    UpdaterSetup setup{backend_,
                       desktop_,
                       [this]() -> MessageBoxTimer& { return *questions_; },
                       programFolder.u16string(),
                       {UpdateServerAddress{u"127.0.0.1", server_.port()}},
                       (temp_ / "main.xml").string()};
    setup.ownUpdateFailed = ownUpdateFailed;
    return RunUpdater(setup);
  }
  int Run() { return Run(temp_ / "patcher"); }
  // The run's log, as UTF-8.
  std::string RunLog(const std::filesystem::path& folder) {
    testsupport::ProcessLog::Close();
    return testsupport::ReadLogUtf8(folder / "log.txt");
  }
  std::u16string Normal(const std::filesystem::path& path) const { return path.lexically_normal().u16string(); }
  std::string FileText(const std::filesystem::path& path) const {
    return std::filesystem::exists(path) ? AsText(ReadWholeFile(path)) : "<absent>";
  }

  // Whether the window's last composition drew this text.
  bool Shows(const std::string& text) const {
    if (backend_.lastWindow == nullptr) return false;
    const std::vector<std::string> drawn = backend_.lastWindow->lastDrawing();
    return std::any_of(drawn.begin(), drawn.end(),
                       [&](const std::string& line) { return line.find("'" + text + "'") != std::string::npos; });
  }

  std::filesystem::path previousFolder_;
};

TEST_F(UpdaterStartupTest, ASecondUpdaterSaysSoInAPlainBoxAndEnds) {
  desktop_.anotherInstance = true;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(desktop_.calls(),
            (std::vector<std::string>{"claim Solmere Classic Updater", "message Программа уже запущена | Ошибка"}));
  EXPECT_FALSE(std::filesystem::exists(temp_ / "patcher" / "log.txt")) << "the first updater's log is untouched";
}

TEST_F(UpdaterStartupTest, ARunningClientIsAskedAboutAndOnlyYesStartsAnotherWindow) {
  // The stored switch is off: the second window starts without graphics all the same.
  std::filesystem::create_directories(temp_ / "config" / "patcher");
  WriteWholeFile(temp_ / "config" / "patcher" / "nogfx.cfg", std::string("0"));
  desktop_.clientWindowOpen = true;
  for (const int answer : {kNo, kYes}) {
    SCOPED_TRACE(answer);
    std::future<std::string> question = AnswerNextQuestion(answer);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(question.get(),
              "Игра уже запущена | Для обновления игры необходимо закрыть все окна клиента.\n\nВы хотите запустить "
              "еще одно окно игры?");
  }
  const auto starts = desktop_.starts();
  ASSERT_EQ(starts.size(), 1u) << "no starts nothing";
  EXPECT_EQ(starts[0].program, Normal(temp_ / "velkar" / "velkarclient.exe"));
  EXPECT_EQ(starts[0].commandLine, u"console:0 arc:1 nogfx");
  EXPECT_EQ(starts[0].folder, Normal(temp_ / "velkar"));
  EXPECT_FALSE(std::filesystem::exists(temp_ / "patcher" / "log.txt")) << "no update, no log";
  EXPECT_EQ(desktop_.calls().back(), "start");
}

TEST_F(UpdaterStartupTest, TheUpdatersOwnVersionDecidesBetweenTheWindowAndTheLauncher) {
  struct Case {
    const char* name;
    const char* localFile;  // nullptr: none
    std::function<void(testsupport::ScriptedHttpServer&)> serve;
    bool handsOver;
    const char* errorLine;  // in the log, or nullptr
  };
  const auto text = [](const char* body) {
    return [body](testsupport::ScriptedHttpServer& server) {
      testsupport::ScriptedResponse response;
      response.body = body;
      server.Serve("/patcher_version_new", response);
    };
  };
  const auto broken = [](testsupport::ScriptedHttpServer& server) {
    testsupport::ScriptedResponse response;
    response.body = "12";
    response.declaredLength = 5;
    response.dropAfter = 2;
    server.Serve("/patcher_version_new", response);
  };
  const auto missing = [](testsupport::ScriptedHttpServer& server) {
    testsupport::ScriptedResponse response;
    response.status = 404;
    server.Serve("/patcher_version_new", response);
  };
  const char* kFetchError = "ERROR: Can't load file from server: launcher version\n\r\n";
  const std::vector<Case> cases = {
      {"no local file, server 0", nullptr, text("0"), false, nullptr},
      {"no local file, server 3", nullptr, text("3"), true, nullptr},
      {"equal", "7", text("7\r\n"), false, nullptr},
      {"different", "7", text("8"), true, nullptr},
      {"empty resource counts as 0", "0", text(""), false, nullptr},
      {"nothing readable counts as 0", "x", text("abc"), false, nullptr},
      {"server unreachable", "0", missing, true, kFetchError},
      {"answer shorter than announced", "12", broken, true, kFetchError},
      {"local -1 meets a failed fetch", "-1", missing, false, kFetchError},
  };
  const auto versionFile = temp_ / "config" / "patcher" / "version.sw";
  PrepareClient(1);
  // The window's loop lasts until the start-up chain has ended (the client is at the server's
  // version): ending it at once would cancel the chain's version request half-way.
  desktop_.messageLoop = [this] {
    EXPECT_TRUE(PumpUntil([&] { return Shows("Клиент готов к запуску"); })) << "the start-up chain did not end";
    return 0;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(temp_ / "config" / "patcher");
    if (c.localFile != nullptr) {
      std::filesystem::create_directories(versionFile.parent_path());
      WriteWholeFile(versionFile, std::string(c.localFile));
    }
    c.serve(server_);
    release_.Version(1);
    const std::size_t startsBefore = desktop_.starts().size();
    const std::size_t callsBefore = desktop_.calls().size();
    EXPECT_EQ(Run(), 0);
    const auto calls = desktop_.calls();
    const bool loopRan =
        std::find(calls.begin() + static_cast<std::ptrdiff_t>(callsBefore), calls.end(), "loop") != calls.end();
    EXPECT_EQ(loopRan, !c.handsOver) << "the window is shown only when the versions agree";
    const auto starts = desktop_.starts();
    if (c.handsOver) {
      ASSERT_EQ(starts.size(), startsBefore + 1);
      EXPECT_EQ(starts.back().program, Normal(temp_ / "launcher" / "Launcher.exe"));
      EXPECT_EQ(starts.back().commandLine, u"");
      EXPECT_EQ(starts.back().folder, Normal(temp_ / "launcher"));
    } else {
      EXPECT_EQ(starts.size(), startsBefore);
    }
    if (c.localFile == nullptr) {
      EXPECT_EQ(FileText(versionFile), "0") << "a missing version file is made";
    }
    const std::string log = RunLog(temp_ / "patcher");
    EXPECT_EQ(c.errorLine != nullptr, log.find(c.errorLine != nullptr ? c.errorLine : "ERROR") != std::string::npos)
        << log;
    EXPECT_NE(log.find("INFO: Патчер закрыт"), std::string::npos) << "the window was destroyed";
  }
}

// After the launcher program failed to update it, the updater says so once and goes on with the
// client instead of handing over again; a swap of its files that was cut short is finished and
// handed over, so that the new updater runs, though the versions then agree.
TEST_F(UpdaterStartupTest, AFailedOwnUpdateGoesOnAndAFinishedSwapHandsOver) {
  PrepareClient(1);
  release_.Version(1);
  desktop_.messageLoop = [this] {
    EXPECT_TRUE(PumpUntil([&] { return Shows("Клиент готов к запуску"); })) << "the start-up chain did not end";
    return 0;
  };
  const auto versionFile = temp_ / "config" / "patcher" / "version.sw";
  std::filesystem::create_directories(versionFile.parent_path());
  WriteWholeFile(versionFile, std::string("1"));
  release_.PatcherVersion(2);
  EXPECT_EQ(Run(temp_ / "patcher", true), 0);
  EXPECT_TRUE(desktop_.starts().empty()) << "no second hand-over";
  const auto calls = desktop_.calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "message " + platform::Utf8FromUtf16(kOwnUpdateFailed) + " | Ошибка"),
            calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "loop"), calls.end()) << "the window is shown";
  EXPECT_NE(RunLog(temp_ / "patcher")
                .find("ERROR: The updater's own update failed; the client's update goes on with updater version 1"),
            std::string::npos);

  // A journal whose swap was under way: the updater's version is already the server's.
  release_.PatcherVersion(1);
  const auto staging = temp_ / "config" / "patcher" / "update";
  WriteWholeFile(staging / "new" / "skin" / "new.png", std::string("new picture"));
  WriteWholeFile(staging / "journal", "solmere-program-swap 1\nversion 1\ntarget " + (temp_ / "patcher").string() +
                                          "\nreplace skin\\new.png\n");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(desktop_.starts().size(), 1u) << "handed over to the launcher program";
  EXPECT_EQ(FileText(temp_ / "patcher" / "skin" / "new.png"), "new picture");
  EXPECT_FALSE(std::filesystem::exists(staging));
}

TEST_F(UpdaterStartupTest, ALauncherThatCannotStartIsLoggedAndSaid) {
  release_.PatcherVersion(4);
  desktop_.startsFail = true;
  EXPECT_EQ(Run(), 0);
  const std::string launcher = platform::Utf8FromUtf16(Normal(temp_ / "launcher" / "Launcher.exe"));
  EXPECT_EQ(desktop_.calls().back(),
            "message Требуется обновление патчера, но не удалось запустить программу:\n" + launcher + " | Ошибка");
  EXPECT_NE(RunLog(temp_ / "patcher").find("ERROR: Can't start the launcher program: " + launcher + "\r\n"),
            std::string::npos);
}

TEST_F(UpdaterStartupTest, WorkingFolderAndProgramFolderEachKeepTheirRole) {
  // The program lives in R\patcher; it is started from R\elsewhere\run.
  const auto working = temp_ / "elsewhere" / "run";
  std::filesystem::create_directories(working);
  std::filesystem::current_path(working);
  release_.PatcherVersion(5);
  EXPECT_EQ(Run(temp_ / "patcher"), 0);
  // The updater's own version file goes with the program...
  EXPECT_EQ(FileText(temp_ / "config" / "patcher" / "version.sw"), "0");
  // ...the switch, the launcher and the log with the working folder.
  EXPECT_EQ(FileText(temp_ / "elsewhere" / "config" / "patcher" / "nogfx.cfg"), "0");
  EXPECT_FALSE(std::filesystem::exists(temp_ / "config" / "patcher" / "nogfx.cfg"));
  ASSERT_EQ(desktop_.starts().size(), 1u);
  EXPECT_EQ(desktop_.starts()[0].program, Normal(temp_ / "elsewhere" / "launcher" / "Launcher.exe"));
  EXPECT_TRUE(std::filesystem::exists(working / "log.txt"));
}

TEST_F(UpdaterStartupTest, AWindowWithoutItsSkinSaysSoInsteadOfRunningUnseen) {
  const UpdaterSetup setup{backend_,
                           desktop_,
                           [this]() -> MessageBoxTimer& { return *questions_; },
                           temp_.U16("patcher"),
                           {UpdateServerAddress{u"127.0.0.1", server_.port()}},
                           (temp_ / "no-such-skin.xml").string()};
  EXPECT_EQ(RunUpdater(setup), 0);
  EXPECT_EQ(desktop_.calls().back(), "message Не удалось загрузить оформление программы: " +
                                         (temp_ / "no-such-skin.xml").string() + " | Ошибка");
  EXPECT_NE(RunLog(temp_ / "patcher").find("ERROR: Can't load skin xml!"), std::string::npos);
}

TEST_F(UpdaterStartupTest, ANormalRunLogsFromTheEmptyLineToTheEndAndReturnsTheLoopsCode) {
  PrepareClient(2);
  release_.Version(2);
  desktop_.messageLoop = [this] {
    // The loop ends with the quit code the close button posts.
    EXPECT_TRUE(PumpUntil([&] { return backend_.lastWindow != nullptr && backend_.lastWindow->visible; }))
        << "the window was not shown";
    return 0;
  };
  EXPECT_EQ(Run(), 0);
  const std::string log = RunLog(temp_ / "patcher");
  EXPECT_EQ(log.rfind("\r\n[", 0), 0u) << log;
  EXPECT_NE(log.find("INFO: Патчер запущен\r\n"), std::string::npos);
  const std::string last = "INFO: Патчер закрыт\r\n";
  ASSERT_GE(log.size(), last.size());
  EXPECT_EQ(log.substr(log.size() - last.size()), last);
  EXPECT_EQ(FileText(temp_ / "config" / "patcher" / "nogfx.cfg"), "0") << "the switch file is made at start";
}

}  // namespace
