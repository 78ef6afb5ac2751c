// Hit-testing and mouse dispatch of the layered form: which control takes the mouse, what a
// click is, and the hover and press states the pointer leaves behind.

#include <gtest/gtest.h>

#include "platform/text.h"
#include "ui/test_form.h"

namespace Ormel::testing {
namespace {

struct Box {
  int x, y, width, height;
};

std::unique_ptr<LoggingButton> MakeButton(TestForm& form, FakeBackend& backend, const std::string& name, Box box) {
  auto button = std::make_unique<LoggingButton>(form, name);
  backend.AddPicture(name + ".png", box.width, box.height);
  button->SetPicture(kNormal, backend.LoadPicture(platform::Utf16FromUtf8(name + ".png")));
  button->SetPosition(box.x, box.y);
  return button;
}

// --- Hit-testing ------------------------------------------------------------------------------

struct HitCase {
  const char* what;
  // Controls in creation order: box, z (nullopt keeps the automatic one), disabled, visible.
  struct Placement {
    Placement(Box b, std::optional<int> zValue = std::nullopt, bool isDisabled = false, bool isVisible = true)
        : box(b), z(zValue), disabled(isDisabled), visible(isVisible) {}
    Box box;
    std::optional<int> z;
    bool disabled;
    bool visible;
  };
  std::vector<Placement> controls;
  int x, y;
  int expected;  // index into controls, -1 for none
};

// Test names show what a case is about.
void PrintTo(const HitCase& c, std::ostream* out) {
  *out << c.what;
}

class HitTestTable : public ::testing::TestWithParam<HitCase> {};

TEST_P(HitTestTable, FindsTheControlThatTakesTheMouse) {
  const HitCase& c = GetParam();
  FakeBackend backend;
  TestForm form(backend);
  std::vector<std::unique_ptr<LoggingButton>> buttons;
  for (std::size_t i = 0; i < c.controls.size(); ++i) {
    const auto& placement = c.controls[i];
    // At most ten controls: "c0" to "c9".
    std::string name(1, 'c');
    name.push_back(static_cast<char>('0' + i));
    buttons.push_back(MakeButton(form, backend, name, placement.box));
    if (placement.z) buttons.back()->SetZ(*placement.z);
    buttons.back()->SetDisabled(placement.disabled);
    buttons.back()->SetVisible(placement.visible);
  }
  Control* hit = form.HitTest(c.x, c.y);
  Control* expected = c.expected < 0 ? nullptr : buttons[static_cast<std::size_t>(c.expected)].get();
  EXPECT_EQ(hit, expected) << c.what;
}

const HitCase kHitCases[] = {
    {"inside", {{{10, 10, 50, 20}}}, 10, 10, 0},
    {"right edge is outside", {{{10, 10, 50, 20}}}, 60, 15, -1},
    {"bottom edge is outside", {{{10, 10, 50, 20}}}, 15, 30, -1},
    {"last pixel inside", {{{10, 10, 50, 20}}}, 59, 29, 0},
    {"above the top", {{{10, 10, 50, 20}}}, 15, 9, -1},
    {"overlap: the later one wins", {{{10, 10, 50, 20}}, {{30, 10, 50, 20}}}, 40, 15, 1},
    {"overlap, only the earlier there", {{{10, 10, 50, 20}}, {{30, 10, 50, 20}}}, 20, 15, 0},
    {"disabled is transparent", {{{10, 10, 50, 20}}, {{30, 10, 50, 20}, {}, true}}, 40, 15, 0},
    {"disabled over background", {{{10, 10, 50, 20}, {}, true}}, 20, 15, -1},
    {"invisible is still hit", {{{10, 10, 50, 20}, {}, false, false}}, 20, 15, 0},
    {"equal z: the earliest wins", {{{10, 10, 50, 20}, 5}, {{10, 10, 50, 20}, 5}}, 20, 15, 0},
    {"greater z wins over later", {{{10, 10, 50, 20}, 9}, {{10, 10, 50, 20}, 2}}, 20, 15, 0},
    {"z below 0 is never hit", {{{10, 10, 50, 20}, -1}}, 20, 15, -1},
    {"z below 0 lets the one below through", {{{10, 10, 50, 20}, 0}, {{10, 10, 50, 20}, -3}}, 20, 15, 0},
    {"z 0 is hit", {{{10, 10, 50, 20}, 0}}, 20, 15, 0},
};

INSTANTIATE_TEST_SUITE_P(Form, HitTestTable, ::testing::ValuesIn(kHitCases));

TEST(FormHitTest, NewControlsLieAboveAllOthers) {
  FakeBackend backend;
  TestForm form(backend);
  auto a = MakeButton(form, backend, "a", {0, 0, 10, 10});
  auto b = MakeButton(form, backend, "b", {0, 0, 10, 10});
  EXPECT_EQ(a->z(), 0);
  EXPECT_EQ(b->z(), 1);
  a->SetZ(10);
  auto c = MakeButton(form, backend, "c", {0, 0, 10, 10});
  EXPECT_EQ(c->z(), 11);
}

TEST(FormHitTest, HitAreaReplacesThePictureBox) {
  FakeBackend backend;
  TestForm form(backend);
  auto a = MakeButton(form, backend, "a", {100, 100, 40, 40});
  a->SetHitArea(5, 5, 10, 10);
  EXPECT_EQ(a->hitRect(), (HitRect{105, 105, 115, 115}));
  EXPECT_EQ(form.HitTest(101, 101), nullptr);
  EXPECT_EQ(form.HitTest(106, 106), a.get());
  // A width with a height of -1 makes a rectangle no point is in.
  a->SetHitArea(0, 0, 10, -1);
  EXPECT_EQ(form.HitTest(101, 101), nullptr);
  a->SetHitArea(0, 0, -1, -1);
  EXPECT_EQ(form.HitTest(139, 139), a.get());
  // The rectangle follows the control.
  a->SetPosition(0, 0);
  EXPECT_EQ(form.HitTest(139, 139), nullptr);
  EXPECT_EQ(form.HitTest(39, 39), a.get());
}

// --- Mouse dispatch ---------------------------------------------------------------------------

// Three buttons on a 400 x 300 form: A and B side by side, touching; C at the bottom,
// disabled, over background only.
struct Step {
  enum Kind { kMove, kHeldMove, kDown, kUp } kind;
  int x, y;
};

constexpr Box kA{10, 10, 50, 20};   // x 10..59
constexpr Box kB{60, 10, 50, 20};   // x 60..109, touching A
constexpr Box kC{10, 200, 50, 20};  // disabled
constexpr int kOnA = 20, kOnB = 80, kRow = 15;

struct DispatchCase {
  const char* what;
  std::vector<Step> steps;
  std::vector<std::string> events;
  int stateA, stateB;
};

// Test names show what a case is about.
void PrintTo(const DispatchCase& c, std::ostream* out) {
  *out << c.what;
}

class DispatchTable : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTable, GivesEventsAndStates) {
  const DispatchCase& c = GetParam();
  FakeBackend backend;
  TestForm form(backend);
  auto a = MakeButton(form, backend, "A", kA);
  auto b = MakeButton(form, backend, "B", kB);
  auto disabled = MakeButton(form, backend, "C", kC);
  disabled->SetDisabled(true);
  disabled->SetState(kFocused);
  for (const Step& step : c.steps) {
    switch (step.kind) {
      case Step::kMove:
        form.HandleMouseMove(step.x, step.y, false);
        break;
      case Step::kHeldMove:
        form.HandleMouseMove(step.x, step.y, true);
        break;
      case Step::kDown:
        form.HandleButtonDown(step.x, step.y);
        break;
      case Step::kUp:
        form.HandleButtonUp(step.x, step.y);
        break;
    }
  }
  EXPECT_EQ(form.events, c.events) << c.what;
  EXPECT_EQ(a->state(), c.stateA) << c.what;
  EXPECT_EQ(b->state(), c.stateB) << c.what;
  EXPECT_EQ(disabled->state(), kDisabled) << c.what;
}

using S = Step;
const DispatchCase kDispatchCases[] = {
    {"hover from the background focuses",
     {{S::kMove, 200, 100}, {S::kMove, kOnA, kRow}},
     {"form.move", "form.enter", "A.move", "form.overcontrol"},
     kFocused,
     kNormal},
    {"hover moves between touching controls",
     {{S::kMove, kOnA, kRow}, {S::kMove, kOnB, kRow}},
     {"A.move", "form.overcontrol", "B.move", "form.overcontrol"},
     kNormal,
     kFocused},
    {"leaving to the background clears; entering is told once",
     {{S::kMove, kOnA, kRow}, {S::kMove, 200, 100}, {S::kMove, 201, 100}},
     {"A.move", "form.overcontrol", "form.move", "form.enter", "form.move"},
     kNormal,
     kNormal},
    {"press shows Clicked",
     {{S::kMove, kOnA, kRow}, {S::kDown, kOnA, kRow}},
     {"A.move", "form.overcontrol", "A.down"},
     kClicked,
     kNormal},
    {"press and release on one control is a click",
     {{S::kMove, kOnA, kRow}, {S::kDown, kOnA, kRow}, {S::kUp, kOnA, kRow}},
     {"A.move", "form.overcontrol", "A.down", "A.click"},
     kFocused,
     kNormal},
    {"a click without a move before it",
     {{S::kDown, kOnA, kRow}, {S::kUp, kOnA + 5, kRow}},
     {"A.down", "A.click"},
     kFocused,
     kNormal},
    {"press, move off, release on another control: mouse-up there, no click",
     {{S::kMove, kOnA, kRow}, {S::kDown, kOnA, kRow}, {S::kHeldMove, kOnB, kRow}, {S::kUp, kOnB, kRow}},
     {"A.move", "form.overcontrol", "A.down", "B.move", "form.overcontrol", "B.up"},
     kNormal,
     kFocused},
    {"press, move off over the background, release on another control",
     {{S::kDown, kOnA, kRow}, {S::kHeldMove, 200, 100}, {S::kHeldMove, kOnB, kRow}, {S::kUp, kOnB, kRow}},
     {"A.down", "form.move", "form.enter", "B.move", "form.overcontrol", "B.up"},
     kNormal,
     kFocused},
    {"held over another control lights nothing; back on the pressed one shows Clicked",
     {{S::kDown, kOnA, kRow}, {S::kHeldMove, kOnB, kRow}, {S::kHeldMove, kOnA, kRow}},
     {"A.down", "B.move", "form.overcontrol", "A.move", "form.overcontrol"},
     kClicked,
     kNormal},
    {"press away and back, release on the same control is a click",
     {{S::kDown, kOnA, kRow}, {S::kHeldMove, 200, 100}, {S::kHeldMove, kOnA, kRow}, {S::kUp, kOnA, kRow}},
     {"A.down", "form.move", "form.enter", "A.move", "form.overcontrol", "A.click"},
     kFocused,
     kNormal},
    {"press on the background, release on a control: mouse-up, no click",
     {{S::kMove, 200, 100}, {S::kDown, 200, 100}, {S::kHeldMove, kOnA, kRow}, {S::kUp, kOnA, kRow}},
     {"form.move", "form.enter", "form.down", "A.move", "form.overcontrol", "A.up"},
     kFocused,
     kNormal},
    {"press on a control, release on the background",
     {{S::kDown, kOnA, kRow}, {S::kUp, 200, 100}},
     {"A.down", "form.up"},
     kNormal,
     kNormal},
    {"a release lost outside the window ends the press at the next free move",
     {{S::kDown, kOnA, kRow}, {S::kMove, kOnB, kRow}, {S::kDown, kOnB, kRow}, {S::kUp, kOnB, kRow}},
     {"A.down", "B.move", "form.overcontrol", "B.down", "B.click"},
     kNormal,
     kFocused},
    {"a disabled control is transparent: the background takes the press",
     {{S::kMove, 20, 205}, {S::kDown, 20, 205}, {S::kUp, 20, 205}},
     {"form.move", "form.enter", "form.down", "form.up"},
     kNormal,
     kNormal},
};

INSTANTIATE_TEST_SUITE_P(Form, DispatchTable, ::testing::ValuesIn(kDispatchCases));

TEST(FormMouse, HoverChangesComposeOncePerEvent) {
  FakeBackend backend;
  TestForm form(backend);
  auto a = MakeButton(form, backend, "A", kA);
  auto b = MakeButton(form, backend, "B", kB);
  form.HandleMouseMove(kOnA, kRow, false);
  const int before = form.fakeWindow().presents();
  // A back to Normal and B to Focused: two changes, one composition.
  form.HandleMouseMove(kOnB, kRow, false);
  EXPECT_EQ(form.fakeWindow().presents(), before + 1);
  // Nothing changes: no composition.
  form.HandleMouseMove(kOnB + 1, kRow, false);
  EXPECT_EQ(form.fakeWindow().presents(), before + 1);
}

TEST(FormMouse, ClickHandlerMayEndTheControl) {
  FakeBackend backend;
  TestForm form(backend);
  auto a = MakeButton(form, backend, "A", kA);
  a->SetClickHandler([&a](Control&, int, int, int) { a.reset(); });
  form.HandleButtonDown(kOnA, kRow);
  form.HandleButtonUp(kOnA, kRow);
  EXPECT_EQ(a, nullptr);
  // The form keeps working without it.
  form.HandleMouseMove(kOnA, kRow, false);
  EXPECT_EQ(form.HitTest(kOnA, kRow), nullptr);
}

TEST(FormMouse, DragStartsOnlyOnTheBackground) {
  FakeBackend backend;
  TestForm form(backend);
  auto a = MakeButton(form, backend, "A", kA);
  auto disabled = MakeButton(form, backend, "C", kC);
  disabled->SetDisabled(true);
  EXPECT_FALSE(form.DragFromBackground(kLeftButton, kOnA, kRow));
  EXPECT_FALSE(form.DragFromBackground(2, 200, 100));
  EXPECT_EQ(form.fakeWindow().drags, 0);
  EXPECT_TRUE(form.DragFromBackground(kLeftButton, 200, 100));
  // A disabled control does not hold the window.
  EXPECT_TRUE(form.DragFromBackground(kLeftButton, 20, 205));
  EXPECT_EQ(form.fakeWindow().drags, 2);
}

}  // namespace
}  // namespace Ormel::testing
