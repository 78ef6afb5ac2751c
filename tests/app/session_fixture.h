#pragma once
// The updater's session (its main window, engine and workflow) on the portable toolkit without
// a screen: skins with every control the window binds, the real question box, a desktop that
// records what it is asked and answers from a script, a scripted update server, and a client
// folder. The test thread
// is the windows' UI thread; a watchdog ends a test that hangs, with a message.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/updater_session.h"
#include "engine/engine_fixture.h"
#include "engine/scripted_release.h"
#include "engine/server_tree.h"
#include "platform/desktop.h"
#include "platform/text.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/scripted_http_server.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "support/watchdog.h"
#include "ui/fake_backend.h"
#include "workflow/main_form.h"
#include "workflow/message_box_timer.h"

using testsupport::ReadWholeFile;
using testsupport::TempFolder;
using testsupport::WriteWholeFile;

// A desktop that records every request and answers from the test's settings.
class FakeDesktop : public Desktop {
 public:
  struct Start {
    std::u16string program;
    std::u16string commandLine;
    std::u16string folder;
  };

  bool ClaimSingleInstance(const std::u16string& name) override {
    Record("claim " + platform::Utf8FromUtf16(name));
    return !anotherInstance;
  }
  bool WindowOfClassExists(const std::u16string& className) override {
    Record("find " + platform::Utf8FromUtf16(className));
    return clientWindowOpen;
  }
  void ShowSystemMessage(const std::u16string& text, const std::u16string& caption) override {
    Record("message " + platform::Utf8FromUtf16(text) + " | " + platform::Utf8FromUtf16(caption));
  }
  bool StartProgram(const std::u16string& program, const std::u16string& commandLine,
                    const std::u16string& folder) override {
    std::lock_guard lock(mutex_);
    starts_.push_back({program, commandLine, folder});
    calls_.push_back("start");
    return !startsFail;
  }
  bool ChooseFile(const std::u16string& label, const std::u16string& pattern, std::u16string& path) override {
    Record("dialog " + platform::Utf8FromUtf16(label) + " | " + platform::Utf8FromUtf16(pattern) + " | " +
           platform::Utf8FromUtf16(path));
    std::lock_guard lock(mutex_);
    if (!chosenFile) return false;
    path = *chosenFile;
    return true;
  }
  void OpenAddress(const std::string& address) override { Record("open " + address); }
  int RunMessageLoop() override {
    Record("loop");
    return messageLoop ? messageLoop() : 0;
  }

  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<Start> starts() const {
    std::lock_guard lock(mutex_);
    return starts_;
  }

  // The script.
  bool anotherInstance = false;
  bool clientWindowOpen = false;
  bool startsFail = false;
  // The file the dialog chooses; nothing: the user cancels it.
  std::optional<std::u16string> chosenFile;
  // The message loop's work; returns the exit code. Without one the loop ends at once with 0.
  std::function<int()> messageLoop;

 private:
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<Start> starts_;
};

// The main window's sixteen controls and the question box's four, on pictures the fake
// backend knows.
inline void WriteTestSkins(const TempFolder& folder, Ormel::testing::FakeBackend& backend) {
  backend.AddPicture("s/main.png", 860, 540);
  backend.AddPicture("s/button.png", 200, 30);
  backend.AddPicture("s/small.png", 24, 24);
  backend.AddPicture("s/bar.png", 800, 16);
  backend.AddPicture("s/box.png", 440, 190);
  const auto button = [](const char* name, int x, int y, const char* more = "") {
    return std::string("<Button Name=\"") + name + "\" X=\"" + std::to_string(x) + "\" Y=\"" + std::to_string(y) +
           "\" RectX=\"-1\" RectY=\"-1\" RectW=\"-1\" RectH=\"-1\" " + more +
           "><Image Name=\"Normal\" Background=\"s/button.png\"/></Button>\n";
  };
  std::string main = "<Window Background=\"s/main.png\">\n";
  main +=
      "<Button Name=\"CloseButton\" X=\"800\" Y=\"10\" RectX=\"-1\" RectY=\"-1\" RectW=\"-1\" RectH=\"-1\">"
      "<Image Name=\"Normal\" Background=\"s/small.png\"/></Button>\n";
  main +=
      "<Button Name=\"MinimizeButton\" X=\"770\" Y=\"10\" RectX=\"-1\" RectY=\"-1\" RectW=\"-1\" RectH=\"-1\">"
      "<Image Name=\"Normal\" Background=\"s/small.png\"/></Button>\n";
  main += button("PlayButton", 610, 70);
  main += button("UpdateButton", 610, 150);
  main += button("CheckButton", 610, 198);
  main += button("ManualButton", 610, 246);
  main += button("HomeButton", 610, 300, "Url=\"https://solmere-classic.example/\"");
  main += button("SocialButton", 610, 335, "Url=\"https://solmere-classic.example/community\"");
  main += button("RegisterButton", 610, 370);
  main += button("NoGfxButton", 30, 410);
  main += button("NoGfxCheckedButton", 30, 410);
  main +=
      "<Label Name=\"Label1\" X=\"30\" Y=\"446\"/>\n<Label Name=\"Label2\" X=\"830\" Y=\"446\" TextAlign=\"right\"/>\n";
  main += "<Browser Name=\"Browser\" X=\"31\" Y=\"71\" Width=\"559\" Height=\"329\" Url=\"https://news.example/\"/>\n";
  for (const char* bar : {"TotalProgress", "CurrentProgress"}) {
    main += std::string("<ProgressBar Name=\"") + bar + "\" X=\"30\" Y=\"470\"><Image Name=\"Normal\" " +
            "Background=\"s/bar.png\"/><Image Name=\"Progress\" Background=\"s/bar.png\"/></ProgressBar>\n";
  }
  main += "</Window>\n";
  WriteWholeFile(folder / "main.xml", main);
  WriteWholeFile(folder / "box.xml",
                 "<Window Background=\"s/box.png\">\n" + button("ButtonYes", 75, 136, "Text=\"Да\"") +
                     button("ButtonNo", 235, 136, "Text=\"Нет\"") +
                     "<Label Name=\"Label1\" X=\"220\" Y=\"42\"/><Label Name=\"Label2\" X=\"30\" Y=\"62\" "
                     "Width=\"380\" Height=\"66\"/>\n</Window>\n");
}

class SessionFixture : public ClientFixture {
 protected:
  static constexpr int kYes = kAnswerYes;
  static constexpr int kNo = kAnswerNo;

  void SetUp() override {
    ClientFixture::SetUp();
    ASSERT_TRUE(server_.listening());
    WriteTestSkins(temp_, backend_);
    questions_ = std::make_unique<MessageBoxTimer>(backend_, clock_, (temp_ / "box.xml").string());
    ASSERT_TRUE(questions_->usable());
    release_.PatcherVersion(0);
  }
  void TearDown() override {
    session_.reset();
    questions_.reset();
    ClientFixture::TearDown();
  }

  // A client at `version` holding `archived` (full archive names), saved and closed.
  void PrepareClient(int32_t version, const std::vector<testsupport::ListedFile>& archived = {}) {
    MakeSet(u"127.0.0.1", server_.port());
    ASSERT_TRUE(set_->OpenArchives({}).allOpen());
    for (const auto& file : archived) {
      PutArchived(file.name.substr(0, file.name.find(u'\\')), file.name, file.content);
    }
    ASSERT_TRUE(set_->WriteLocalVersion(version).written());
    ASSERT_TRUE(set_->SaveArchives({}).written());
    set_.reset();
  }
  // The version a fresh start reads from the folder (the window is gone by then).
  int32_t VersionOnDisk() {
    MakeSet(u"127.0.0.1", server_.port());
    EXPECT_TRUE(set_->OpenArchives({}).allOpen()) << "every archive opens";
    const int32_t version = set_->ReadLocalVersion();
    set_.reset();
    return version;
  }

  // The window's run writes a log of its own from its first line. The updater's folder is
  // both its program folder and its working folder.
  void MakeSession() {
    log_.Open(temp_ / "log.txt");
    session_ =
        std::make_unique<UpdaterSession>(backend_, *questions_, desktop_,
                                         UpdaterSession::Settings{temp_.U16("patcher"),
                                                                  temp_.U16("patcher"),
                                                                  {UpdateServerAddress{u"127.0.0.1", server_.port()}},
                                                                  (temp_ / "main.xml").string()});
    ASSERT_TRUE(form().loaded());
  }
  MainForm& form() { return session_->form(); }
  // A click on the window's control, as the UI thread hands it over.
  void Click(const char* control) { form().Find(control)->OnClick(Ormel::kLeftButton, 5, 5); }
  // Dispatches the UI thread's messages until `done`; false when it did not come in time.
  bool PumpUntil(const std::function<bool()>& done, double seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      backend_.PumpMessages(std::chrono::milliseconds(2));
    }
    return true;
  }
  std::string TextOf(const char* control) const {
    const Ormel::Control* found = session_->form().Find(control);
    return found != nullptr ? platform::Utf8FromUtf16(found->text()) : "<no " + std::string(control) + ">";
  }
  bool Enabled(const char* control) const {
    const Ormel::Control* found = session_->form().Find(control);
    return found != nullptr && !found->disabled() && found->state() != Ormel::kDisabled;
  }
  bool ShowsStatus(const std::string& text) const { return TextOf("Label1") == text; }
  // Waits on another thread for the next question and answers it; the question's two lines.
  std::future<std::string> AnswerNextQuestion(int answer) {
    return std::async(std::launch::async, [this, answer] {
      if (!testsupport::WaitUntil([this] { return questions_->asking(); }, std::chrono::seconds(20)))
        return std::string("<no question within 20 s>");
      const std::string lines = platform::Utf8FromUtf16(questions_->Find("Label1")->text()) + " | " +
                                platform::Utf8FromUtf16(questions_->Find("Label2")->text());
      questions_->Answer(answer);
      return lines;
    });
  }
  // The log as UTF-8 (the window is gone, or at least not writing).
  std::string LogUtf8() { return log_.Text(); }

  testsupport::Watchdog watchdog_{std::chrono::seconds(90)};
  testsupport::ScriptedHttpServer server_;
  testsupport::ScriptedRelease release_{server_};
  Ormel::testing::FakeBackend backend_;
  Ormel::SteadyCountdownClock clock_;
  FakeDesktop desktop_;
  std::unique_ptr<MessageBoxTimer> questions_;
  std::unique_ptr<UpdaterSession> session_;
};
