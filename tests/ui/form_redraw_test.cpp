// Compositions: batching, the redraw that finds a composition running, the lock around
// control changes, and the form's window operations.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "support/gate.h"
#include "ui/browser.h"
#include "ui/label.h"
#include "ui/test_form.h"

namespace Ormel::testing {
namespace {

TEST(FormBatch, RedrawsDuringABatchComposeOnceWhenItCloses) {
  FakeBackend backend;
  TestForm form(backend);
  Label a(form), b(form);
  const int before = form.fakeWindow().presents();
  form.BeginBatch();
  a.SetText(u"один");
  b.SetText(u"два");
  form.Redraw();
  EXPECT_EQ(form.fakeWindow().presents(), before);
  form.EndBatch();
  EXPECT_EQ(form.fakeWindow().presents(), before + 1);
}

TEST(FormBatch, ABatchWithoutChangesComposesNothing) {
  FakeBackend backend;
  TestForm form(backend);
  Label a(form);
  a.SetText(u"x");
  const int before = form.fakeWindow().presents();
  form.BeginBatch();
  a.SetText(u"x");
  form.EndBatch();
  EXPECT_EQ(form.fakeWindow().presents(), before);
}

TEST(FormBatch, OverlappingBatchesComposeWhenTheLastCloses) {
  FakeBackend backend;
  TestForm form(backend);
  Label a(form);
  const int before = form.fakeWindow().presents();
  form.BeginBatch();  // the progress display's cycle
  form.BeginBatch();  // a hover change meanwhile
  a.SetText(u"x");
  form.EndBatch();
  EXPECT_EQ(form.fakeWindow().presents(), before);
  form.EndBatch();
  EXPECT_EQ(form.fakeWindow().presents(), before + 1);
}

TEST(FormBatch, SetHotStateIsOneBatch) {
  FakeBackend backend;
  TestForm form(backend);
  std::vector<std::unique_ptr<Button>> buttons;
  for (int i = 0; i < 5; ++i) {
    buttons.push_back(std::make_unique<Button>(form));
    buttons.back()->SetState(kFocused);
  }
  const int before = form.fakeWindow().presents();
  form.SetHotState(buttons[2].get(), kClicked);
  EXPECT_EQ(form.fakeWindow().presents(), before + 1);
  for (std::size_t i = 0; i < buttons.size(); ++i) EXPECT_EQ(buttons[i]->state(), i == 2 ? kClicked : kNormal);
  form.SetHotState(nullptr, kFocused);
  for (const auto& button : buttons) EXPECT_EQ(button->state(), kNormal);
}

TEST(FormRedraw, ARedrawDuringACompositionIsComposedBeforeItEnds) {
  FakeBackend backend;
  TestForm form(backend);
  Label status(form);
  status.SetShadow(false);
  std::atomic<bool> first{true};
  // Only the first composition is held open, until the test lets it go.
  const auto composing = std::make_shared<testsupport::Gate>();
  form.fakeWindow().duringPresent = [&first, composing] {
    if (!first.exchange(false)) return;
    EXPECT_TRUE(composing->Pass(testsupport::kWaitLimit)) << "the composition was never let go";
  };
  const int before = form.fakeWindow().presents();
  std::thread composer([&] { status.SetText(u"50%"); });
  ASSERT_TRUE(composing->WaitHolding(testsupport::kWaitLimit)) << "the first composition never started";

  // A worker's last change while the composition runs: it must not wait, and must not be lost.
  std::thread worker([&] { status.SetText(u"100%"); });
  worker.join();
  EXPECT_EQ(form.fakeWindow().presents(), before);
  composing->Open();
  composer.join();
  EXPECT_EQ(form.fakeWindow().presents(), before + 2);
  const auto drawn = form.fakeWindow().lastDrawing();
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[1], "text '100%' 0,0 0x0 #FFFFFFFF");
}

TEST(FormRedraw, ChangesFromManyThreadsAllReachTheScreen) {
  FakeBackend backend;
  TestForm form(backend);
  constexpr int kThreads = 4;
  std::vector<std::unique_ptr<Label>> labels;
  for (int i = 0; i < kThreads; ++i) {
    labels.push_back(std::make_unique<Label>(form));
    labels.back()->SetShadow(false);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i <= 500; ++i) labels[t]->SetText(u"n" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)));
    });
  }
  for (auto& thread : threads) thread.join();
  // Every label's final text (i = 500: "n0") is in the last composition.
  const auto drawn = form.fakeWindow().lastDrawing();
  ASSERT_EQ(drawn.size(), 1u + kThreads);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(drawn[1 + t].substr(0, 9), "text 'n0'") << t;
}

TEST(FormRedraw, NoBackgroundNeverPresents) {
  FakeBackend backend;
  TestForm form(backend, false);
  Label label(form);
  label.SetText(u"x");
  form.Redraw();
  EXPECT_EQ(form.fakeWindow().presents(), 0);
}

TEST(FormWindowOps, ShowHideTitleAndMove) {
  FakeBackend backend;
  TestForm form(backend);
  EXPECT_TRUE(form.Show());
  EXPECT_TRUE(form.fakeWindow().visible);
  form.Hide();
  EXPECT_FALSE(form.visible());
  form.SetText(u"Solmere 3 Classic Updater");
  EXPECT_EQ(form.fakeWindow().title, u"Solmere 3 Classic Updater");
  EXPECT_EQ(form.text(), u"Solmere 3 Classic Updater");

  Browser browser(form);
  auto host = std::make_unique<FakeBrowserHost>();
  FakeBrowserHost* calls = host.get();
  browser.AttachHost(std::move(host));
  browser.SetBox(20, 30, 300, 200);
  form.OnMove(500, 400);
  EXPECT_EQ(form.x(), 500);
  EXPECT_EQ(form.y(), 400);
  form.OnMoving(510, 405);
  EXPECT_EQ(calls->calls, (std::vector<std::string>{"place 520,430 300x200", "place 530,435 300x200"}));
  // The pane never takes the form's mouse: its own window does.
  EXPECT_EQ(form.HitTest(50, 50), nullptr);
}

}  // namespace
}  // namespace Ormel::testing
