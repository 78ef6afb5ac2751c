// The timed question box on the portable toolkit: captions of the count-down, answers by
// click, count-down and hiding, the owner's input, and one question at a time.

#include "ui/question_box.h"

#include <gtest/gtest.h>

#include <future>

#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "ui/button.h"
#include "ui/label.h"
#include "ui/manual_clock.h"
#include "ui/test_form.h"

using testsupport::TempFolder;
using testsupport::WriteWholeFile;

namespace Ormel::testing {
namespace {

using namespace std::chrono_literals;

const char* kSkin = R"(<Window Background="mb/bg.png">
  <Button Name="ButtonYes" Text="Да" X="60" Y="120" RectX="-1" RectY="-1" RectW="-1" RectH="-1">
    <Image Name="Normal" Background="mb/button.png"/>
  </Button>
  <Button Name="ButtonNo" Text="Нет" X="220" Y="120" RectX="-1" RectY="-1" RectW="-1" RectH="-1">
    <Image Name="Normal" Background="mb/button.png"/>
  </Button>
  <Label Name="Label1" X="200" Y="40" TextAlign="center"/>
  <Label Name="Label2" X="20" Y="60" Width="360" Height="50"/>
</Window>)";

class QuestionBoxTest : public ::testing::Test {
 protected:
  QuestionBoxTest() : owner(backend) {
    backend.AddPicture("mb/bg.png", 400, 170);
    backend.AddPicture("mb/button.png", 120, 32);
    WriteWholeFile(folder / "mbtuni.xml", std::string(kSkin));
    box = std::make_unique<QuestionBox>(backend, clock, u"MessageBox", (folder / "mbtuni.xml").string(),
                                        u"Solmere Classic Updater MessageBox");
  }

  std::u16string YesCaption() { return box->Find("ButtonYes")->text(); }
  // A click on a button of the box, delivered as the UI thread's messages would be.
  void PostClick(const char* name) {
    Control* button = box->Find(name);
    const int x = button->x() + 5, y = button->y() + 5;
    backend.Post([this, x, y] {
      box->HandleMouseMove(x, y, false);
      box->HandleButtonDown(x, y);
      box->HandleButtonUp(x, y);
    });
  }
  std::future<bool> AskAsync(std::u16string first, std::u16string second, int seconds, Form* by = nullptr) {
    return std::async(std::launch::async, [=, this] { return box->Ask(by, first, second, seconds); });
  }
  static bool Ready(std::future<bool>& answer) { return answer.wait_for(0s) == std::future_status::ready; }

  TempFolder folder;
  FakeBackend backend;
  ManualClock clock;
  TestForm owner;
  std::unique_ptr<QuestionBox> box;
};

TEST_F(QuestionBoxTest, BuildsFromItsSkin) {
  ASSERT_TRUE(box->usable());
  EXPECT_EQ(box->text(), u"Solmere Classic Updater MessageBox");
  EXPECT_EQ(backend.windowClasses.back(), u"MessageBox");
  EXPECT_EQ(YesCaption(), u"Да");
}

TEST_F(QuestionBoxTest, CountsDownThreeTwoOneZeroThenAnswersYes) {
  auto answer = AskAsync(u"Требуется обновление", u"Обновить клиент?", 3, &owner);
  for (int second = 0; second < 4; ++second) {
    ASSERT_TRUE(clock.AwaitWaits(second + 1));
    EXPECT_EQ(YesCaption(), u"Да (" + std::u16string(1, static_cast<char16_t>(u'3' - second)) + u")");
    // The composed picture shows the caption too.
    const auto drawn = backend.lastWindow->lastDrawing();
    EXPECT_NE(
        std::find(drawn.begin(), drawn.end(), "text 'Да (" + std::to_string(3 - second) + ")' 60,120 0x0 #FFFFFFFF"),
        drawn.end());
    EXPECT_FALSE(Ready(answer));
    clock.Advance(1s);
  }
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready) << "the count-down never answered";
  EXPECT_TRUE(answer.get());
  EXPECT_FALSE(backend.lastWindow->visible);
  // The last caption stays until the next question.
  EXPECT_EQ(YesCaption(), u"Да (0)");
}

TEST_F(QuestionBoxTest, NoAfterOneSecondAnswersNoAndStopsTheCaptions) {
  auto answer = AskAsync(u"Ошибка", u"Повторить?", 10);
  ASSERT_TRUE(clock.AwaitWaits(1));
  clock.Advance(1s);
  ASSERT_TRUE(clock.AwaitWaits(2));
  EXPECT_EQ(YesCaption(), u"Да (9)");
  PostClick("ButtonNo");
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(answer.get());
  clock.Advance(60s);
  // Another question joins the old count-down's thread: it has ended without a change.
  auto next = AskAsync(u"a", u"b", -1);
  ASSERT_EQ(next.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(next.get());
  EXPECT_EQ(YesCaption(), u"Да (9)");
}

TEST_F(QuestionBoxTest, YesClickAnswersYesAtOnce) {
  auto answer = AskAsync(u"Подтвердите действие", u"", 0);
  PostClick("ButtonYes");
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(answer.get());
}

TEST_F(QuestionBoxTest, NegativeSecondsAnswerYesAtOnce) {
  auto answer = AskAsync(u"x", u"y", -1);
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(answer.get());
  EXPECT_EQ(clock.waitsBegun(), 0);
}

TEST_F(QuestionBoxTest, ZeroSecondsAfterACountedQuestionShowsThePlainCaption) {
  auto counted = AskAsync(u"a", u"b", 5);
  ASSERT_TRUE(clock.AwaitWaits(1));
  EXPECT_EQ(YesCaption(), u"Да (5)");
  PostClick("ButtonYes");
  ASSERT_EQ(counted.wait_for(10s), std::future_status::ready);
  auto plain = AskAsync(u"c", u"d", 0);
  ASSERT_TRUE(WaitUntil([&] { return backend.lastWindow->visible.load(); })) << "the box was not shown";
  EXPECT_EQ(YesCaption(), u"Да");
  PostClick("ButtonNo");
  ASSERT_EQ(plain.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(plain.get());
}

TEST_F(QuestionBoxTest, OwnerIsDisabledExactlyWhileTheBoxIsUp) {
  ASSERT_TRUE(owner.fakeWindow().enabled);
  auto answer = AskAsync(u"Обновление не завершено", u"Выйти?", 0, &owner);
  ASSERT_TRUE(WaitUntil([&] { return backend.lastWindow->visible.load(); })) << "the box was not shown";
  EXPECT_FALSE(owner.fakeWindow().enabled);
  EXPECT_EQ(box->Find("Label1")->text(), u"Обновление не завершено");
  EXPECT_EQ(box->Find("Label2")->text(), u"Выйти?");
  PostClick("ButtonNo");
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(owner.fakeWindow().enabled);
  EXPECT_EQ(owner.fakeWindow().frontCalls, 1);
}

TEST_F(QuestionBoxTest, HidingTheBoxAnswersYes) {
  auto answer = AskAsync(u"a", u"b", 0);
  ASSERT_TRUE(WaitUntil([&] { return box->asking(); })) << "no question was asked";
  backend.Post([this] { box->OnHide(); });
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(answer.get());
}

TEST_F(QuestionBoxTest, ASystemCloseAnswersNoAndTheBoxStaysForTheNextQuestion) {
  auto answer = AskAsync(u"a", u"b", 10);
  ASSERT_TRUE(clock.AwaitWaits(1));
  bool handled = false;
  backend.Post([&] { handled = box->OnClose(); });
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(answer.get()) << "not the count-down's yes";
  EXPECT_TRUE(handled) << "the box's window is not destroyed";
  auto next = AskAsync(u"c", u"d", 0);
  ASSERT_TRUE(WaitUntil([&] { return box->asking(); })) << "no question was asked";
  PostClick("ButtonYes");
  ASSERT_EQ(next.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(next.get());
}

TEST_F(QuestionBoxTest, AnswerFromOutsideEndsTheQuestion) {
  box->Answer(true);  // nothing open: no effect on the next question
  auto answer = AskAsync(u"a", u"b", 10);
  ASSERT_TRUE(clock.AwaitWaits(1));
  box->Answer(false);
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(answer.get());
}

TEST_F(QuestionBoxTest, ASecondQuestionWaitsForTheFirst) {
  auto first = AskAsync(u"первый", u"1", 0);
  ASSERT_TRUE(WaitUntil([&] { return box->asking(); })) << "no question was asked";
  std::thread::id secondThread;
  std::atomic<bool> started{false};
  auto second = std::async(std::launch::async, [&] {
    secondThread = std::this_thread::get_id();
    started = true;
    return box->Ask(nullptr, u"второй", u"2", 0);
  });
  ASSERT_TRUE(WaitUntil([&] { return started.load(); })) << "the second asker did not start";
  // The second asker waits in its thread's message queue, not on a lock.
  ASSERT_TRUE(WaitUntil([&] { return backend.pumpsOf(secondThread) >= 1; })) << "the second question never waited";
  EXPECT_EQ(box->Find("Label1")->text(), u"первый");
  EXPECT_FALSE(Ready(first));
  EXPECT_FALSE(Ready(second));

  PostClick("ButtonYes");
  ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(first.get());
  ASSERT_TRUE(WaitUntil([&] { return box->Find("Label1")->text() == u"второй"; }))
      << "the second question was not shown";
  ASSERT_TRUE(WaitUntil([&] { return box->asking(); })) << "no question was asked";
  PostClick("ButtonNo");
  ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(second.get());
}

TEST_F(QuestionBoxTest, QuitRequestDuringAQuestionAnswersNoAndIsPutBack) {
  auto answer = AskAsync(u"a", u"b", 10);
  ASSERT_TRUE(clock.AwaitWaits(1));
  backend.PostQuitRequest(0);
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(answer.get());
  EXPECT_EQ(backend.repostedQuit, 0);
}

TEST(QuestionBoxIncomplete, SkinWithoutItsControlsAnswersNo) {
  TempFolder folder;
  FakeBackend backend;
  backend.AddPicture("mb/bg.png", 400, 170);
  WriteWholeFile(folder / "mbtuni.xml",
                 std::string(R"(<Window Background="mb/bg.png"><Label Name="Label1"/></Window>)"));
  ManualClock clock;
  QuestionBox box(backend, clock, u"MessageBox", (folder / "mbtuni.xml").string(), u"Box");
  EXPECT_FALSE(box.usable());
  EXPECT_FALSE(box.Ask(nullptr, u"a", u"b", 0));
}

}  // namespace
}  // namespace Ormel::testing
