// Control states, drawing, text layout and progress bars.

#include <gtest/gtest.h>

#include "platform/text.h"
#include "ui/label.h"
#include "ui/progress_bar.h"
#include "ui/test_form.h"

namespace Ormel::testing {
namespace {

using Lines = std::vector<std::string>;

// The drawing of the last composition without the background line.
Lines ControlsDrawn(TestForm& form) {
  Lines lines = form.fakeWindow().lastDrawing();
  if (!lines.empty() && lines.front() == "picture background.png 0,0") lines.erase(lines.begin());
  return lines;
}

std::unique_ptr<Button> PictureButton(TestForm& form, FakeBackend& backend, int x, int y) {
  auto button = std::make_unique<Button>(form);
  const char* names[] = {"normal.png", "focused.png", "clicked.png", "disabled.png"};
  for (int slot = 0; slot < 4; ++slot) {
    backend.AddPicture(names[slot], 80, 24);
    button->SetPicture(slot, backend.LoadPicture(platform::Utf16FromUtf8(names[slot])));
  }
  button->SetPosition(x, y);
  return button;
}

// --- States ------------------------------------------------------------------------------------

TEST(ControlState, EachStateDrawsItsPicture) {
  FakeBackend backend;
  TestForm form(backend);
  auto button = PictureButton(form, backend, 5, 6);
  const std::pair<int, const char*> cases[] = {
      {kFocused, "picture focused.png 5,6"},
      {kClicked, "picture clicked.png 5,6"},
      {kDisabled, "picture disabled.png 5,6"},
      {kNormal, "picture normal.png 5,6"},
  };
  for (const auto& [state, drawn] : cases) {
    button->SetState(state);
    EXPECT_EQ(ControlsDrawn(form), Lines{drawn}) << state;
  }
}

TEST(ControlState, SameStateDoesNotRedrawAndDisabledTakesEveryOtherStateAsDisabled) {
  FakeBackend backend;
  TestForm form(backend);
  auto button = PictureButton(form, backend, 0, 0);
  const int before = form.fakeWindow().presents();
  button->SetState(kNormal);
  EXPECT_EQ(form.fakeWindow().presents(), before);

  button->SetDisabled(true);
  for (int requested : {kFocused, kClicked, kNormal}) {
    button->SetState(requested);
    EXPECT_EQ(button->state(), kDisabled) << requested;
  }
  // Only the first change redrew.
  EXPECT_EQ(form.fakeWindow().presents(), before + 1);

  button->SetDisabled(false);
  button->SetState(kFocused);
  EXPECT_EQ(button->state(), kFocused);
}

TEST(ControlState, ProgressBarShowsOnlyNormalOrDisabled) {
  FakeBackend backend;
  TestForm form(backend);
  ProgressBar bar(form);
  const std::tuple<bool, int, int> cases[] = {
      // disabled, requested, resulting
      {false, kFocused, kNormal}, {false, kClicked, kNormal}, {false, kDisabled, kDisabled},
      {false, kNormal, kNormal},  {true, kNormal, kDisabled}, {true, kFocused, kDisabled},
  };
  for (const auto& [disabled, requested, expected] : cases) {
    bar.SetDisabled(disabled);
    bar.SetState(requested);
    EXPECT_EQ(bar.state(), expected) << disabled << " " << requested;
  }
}

TEST(ControlState, SetTextRedrawsOnlyOnChange) {
  FakeBackend backend;
  TestForm form(backend);
  Label label(form);
  const int before = form.fakeWindow().presents();
  label.SetText(u"Привет");
  label.SetText(u"Привет");
  EXPECT_EQ(form.fakeWindow().presents(), before + 1);
  EXPECT_EQ(label.text(), u"Привет");
}

// --- Drawing -----------------------------------------------------------------------------------

TEST(ControlDraw, InvisibleDrawsNothingButIsStillHit) {
  FakeBackend backend;
  TestForm form(backend);
  auto button = PictureButton(form, backend, 10, 10);
  button->SetText(u"Играть");
  button->SetVisible(false);
  form.Redraw();
  EXPECT_EQ(ControlsDrawn(form), Lines{});
  EXPECT_EQ(form.HitTest(15, 15), button.get());
}

TEST(ControlDraw, TextWithAndWithoutShadow) {
  FakeBackend backend;
  TestForm form(backend);
  Label label(form);
  label.SetPosition(10, 20);
  label.SetTextColor(0xFF102030);
  label.SetText(u"Да");
  EXPECT_EQ(ControlsDrawn(form), (Lines{"text 'Да' 11,21 0x0 #80000000", "text 'Да' 10,20 0x0 #FF102030"}));
  label.SetShadow(false);
  form.Redraw();
  EXPECT_EQ(ControlsDrawn(form), (Lines{"text 'Да' 10,20 0x0 #FF102030"}));
}

TEST(ControlDraw, UnusableFontDrawsNoText) {
  FakeBackend backend;
  backend.fontsUsable = false;
  TestForm form(backend);
  auto button = PictureButton(form, backend, 0, 0);
  button->SetText(u"Нет");
  EXPECT_EQ(ControlsDrawn(form), Lines{"picture normal.png 0,0"});
}

TEST(ControlDraw, MissingPictureIsSkippedButTheControlStillWorks) {
  FakeBackend backend;
  TestForm form(backend);
  Button button(form);
  button.SetPicture(kNormal, backend.LoadPicture(u"nowhere.png"));
  button.SetPosition(3, 4);
  button.SetText(u"OK");
  EXPECT_EQ(ControlsDrawn(form), (Lines{"text 'OK' 4,5 0x0 #80000000", "text 'OK' 3,4 0x0 #FFFFFFFF"}));
}

TEST(ControlDraw, DrawingFollowsTheControlList) {
  FakeBackend backend;
  TestForm form(backend);
  auto first = PictureButton(form, backend, 0, 0);
  auto second = PictureButton(form, backend, 10, 0);
  second->SetState(kFocused);
  EXPECT_EQ(ControlsDrawn(form), (Lines{"picture normal.png 0,0", "picture focused.png 10,0"}));
}

// --- Text layout -------------------------------------------------------------------------------

struct LayoutCase {
  uint32_t alignment;
  int width, height;
  TextRect textRect;
  TextBox expected;
};

TEST(TextLayout, AlignmentBitsAndTextRectangle) {
  // Text of 40 x 16 for a control at (100, 50).
  const LayoutCase cases[] = {
      {0, 200, 30, {}, {100, 50, 40, 16}},
      {kAlignLeft | kAlignTop, 200, 30, {}, {100, 50, 40, 16}},
      {kAlignCenter, 200, 30, {}, {180, 50, 40, 16}},
      {kAlignRight, 200, 30, {}, {260, 50, 40, 16}},
      {kAlignMiddle, 200, 30, {}, {100, 57, 40, 16}},
      {kAlignBottom, 200, 30, {}, {100, 64, 40, 16}},
      {kAlignCenter | kAlignMiddle, 200, 30, {}, {180, 57, 40, 16}},
      // Centre wins over right, middle over bottom.
      {kAlignCenter | kAlignRight | kAlignMiddle | kAlignBottom, 200, 30, {}, {180, 57, 40, 16}},
      // A 0 x 0 label: centred on its point, or ending at it.
      {kAlignCenter | kAlignMiddle, 0, 0, {}, {80, 42, 40, 16}},
      {kAlignRight | kAlignBottom, 0, 0, {}, {60, 34, 40, 16}},
      // A text rectangle ignores the alignment.
      {kAlignCenter | kAlignMiddle, 0, 0, {5, 6, 300, 40}, {105, 56, 300, 40}},
      // Only both sizes set make a text rectangle.
      {kAlignCenter, 0, 0, {5, 6, 300, -1}, {80, 50, 40, 16}},
  };
  for (const LayoutCase& c : cases) {
    EXPECT_EQ(LayoutText(c.alignment, 100, 50, c.width, c.height, c.textRect, {40, 16}), c.expected)
        << c.alignment << " " << c.width << "x" << c.height;
  }
}

TEST(TextLayout, CentredLabelIsDrawnAroundItsPoint) {
  FakeBackend backend;
  TestForm form(backend);
  Label label(form);
  label.SetAlignment(kAlignCenter | kAlignMiddle);
  label.SetShadow(false);
  label.SetPosition(200, 100);
  label.SetText(u"Проверка");  // 8 units: 56 x 16
  EXPECT_EQ(ControlsDrawn(form), (Lines{"text 'Проверка' 172,92 0x0 #FFFFFFFF"}));
}

// --- Progress bars -----------------------------------------------------------------------------

class ProgressBarTest : public ::testing::Test {
 protected:
  ProgressBarTest() : form(backend), bar(form) {
    backend.AddPicture("bar.png", 200, 12);
    backend.AddPicture("fill.png", 200, 12);
    bar.SetPicture(kNormal, backend.LoadPicture(u"bar.png"));
    bar.SetPicture(kProgress, backend.LoadPicture(u"fill.png"));
    bar.SetPosition(10, 250);
    bar.SetShadow(false);
  }
  FakeBackend backend;
  TestForm form;
  ProgressBar bar;
};

TEST_F(ProgressBarTest, FillIsWholeSqueezedOrAbsent) {
  const std::pair<double, Lines> cases[] = {
      {1.0, {"picture bar.png 10,250", "picture fill.png 10,250"}},
      {0.5, {"picture bar.png 10,250", "scaled fill.png 10,250 100x12"}},
      {0.004, {"picture bar.png 10,250"}},  // truncates to 0 pixels
      {0.0, {"picture bar.png 10,250"}},
  };
  for (const auto& [progress, drawn] : cases) {
    bar.SetProgress(progress);
    form.Redraw();
    EXPECT_EQ(ControlsDrawn(form), drawn) << progress;
  }
}

TEST_F(ProgressBarTest, ProgressIsClampedAndFormatsTheWholePercentage) {
  bar.SetText(u"Чтение архивов: %d%%");
  EXPECT_EQ(bar.text(), u"Чтение архивов: 0%");
  const struct {
    double requested, stored;
    int filled;
    std::u16string text;
  } cases[] = {
      {.requested = -0.3, .stored = 0.0, .filled = 0, .text = u"Чтение архивов: 0%"},
      {.requested = 7.0, .stored = 1.0, .filled = 200, .text = u"Чтение архивов: 100%"},
      {.requested = 0.999, .stored = 0.999, .filled = 199, .text = u"Чтение архивов: 99%"},
      {.requested = 0.5, .stored = 0.5, .filled = 100, .text = u"Чтение архивов: 50%"},
      {.requested = 0.0049, .stored = 0.0049, .filled = 0, .text = u"Чтение архивов: 0%"},
  };
  for (const auto& [requested, stored, filled, text] : cases) {
    bar.SetProgress(requested);
    EXPECT_EQ(bar.progress(), stored) << requested;
    EXPECT_EQ(bar.filledWidth(), filled) << requested;
    EXPECT_EQ(bar.text(), text) << requested;
  }
  // A new format is expanded at once with the current progress.
  bar.SetText(u"%d из 100");
  EXPECT_EQ(bar.text(), u"0 из 100");
}

TEST_F(ProgressBarTest, WithoutFormatTheTextStays) {
  bar.SetProgress(0.3);
  EXPECT_EQ(bar.text(), u"");
  const int before = form.fakeWindow().presents();
  bar.SetProgress(0.3);
  EXPECT_EQ(form.fakeWindow().presents(), before);
}

TEST_F(ProgressBarTest, InvisibleBarIsStillDrawn) {
  bar.SetVisible(false);
  bar.SetProgress(1);
  EXPECT_EQ(ControlsDrawn(form), (Lines{"picture bar.png 10,250", "picture fill.png 10,250"}));
}

}  // namespace
}  // namespace Ormel::testing
