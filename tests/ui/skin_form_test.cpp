// The skin loader: small skin documents in, the form's window and controls out; skins that
// must be refused build nothing.

#include "ui/skin_form.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/log.h"
#include "platform/text.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "ui/browser.h"
#include "ui/button.h"
#include "ui/fake_backend.h"
#include "ui/label.h"
#include "ui/progress_bar.h"

using testsupport::DecodeUtf16le;
using testsupport::ReadWholeFile;
using testsupport::TempFolder;
using testsupport::WriteWholeFile;

namespace Ormel::testing {
namespace {

std::string KindOf(const Control& control) {
  if (dynamic_cast<const Button*>(&control)) return "Button";
  if (dynamic_cast<const Label*>(&control)) return "Label";
  if (dynamic_cast<const Browser*>(&control)) return "Browser";
  if (dynamic_cast<const ProgressBar*>(&control)) return "ProgressBar";
  return "?";
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

// One line per control in list (drawing) order.
std::vector<std::string> Describe(const SkinForm& form) {
  std::vector<std::string> lines;
  for (const Control* c : form.controls()) {
    std::string name;
    for (const auto& [key, value] : form.namedControls()) {
      if (value == c) name = key;
    }
    const HitRect hit = c->hitRect();
    std::string line = KindOf(*c) + " " + (name.empty() ? "-" : name) + " @" + std::to_string(c->x()) + "," +
                       std::to_string(c->y()) + " " + std::to_string(c->width()) + "x" + std::to_string(c->height()) +
                       " hit " + std::to_string(hit.left) + "," + std::to_string(hit.top) + "," +
                       std::to_string(hit.right) + "," + std::to_string(hit.bottom) + " z" + std::to_string(c->z());
    if (!c->text().empty()) line += " '" + platform::Utf8FromUtf16(c->text()) + "'";
    if (c->textColor() != kWhite) line += " #" + Hex(c->textColor());
    if (!c->shadow()) line += " noshadow";
    if (c->alignment() != 0) line += " align" + std::to_string(c->alignment());
    const TextRect rect = c->textRect();
    if (rect.isSet()) {
      line +=
          " box" + std::to_string(static_cast<int>(rect.width)) + "x" + std::to_string(static_cast<int>(rect.height));
    }
    if (c->fontSize() != kDefaultFontSize) line += " size" + std::to_string(static_cast<int>(c->fontSize()));
    if (const auto* button = dynamic_cast<const Button*>(c); button != nullptr && !button->url().empty()) {
      line += " url " + button->url();
    }
    lines.push_back(line);
  }
  return lines;
}

class SkinLoad {
 public:
  explicit SkinLoad(const std::string& xml) {
    backend.AddPicture("skin/bg.png", 400, 300);
    backend.AddPicture("skin/b.png", 80, 24);
    backend.AddPicture("skin/b2.png", 90, 30);
    backend.AddPicture("skin/bar.png", 200, 12);
    backend.AddPicture("skin/huge.png", 20000, 10);
    Log::Open(folder.U16("log.txt"));
    const auto path = folder / "skin.xml";
    WriteWholeFile(path, xml);
    form = std::make_unique<SkinForm>(backend, u"TestSkin", path.string());
    Log::Open(folder.U16("other-log.txt"));
  }
  std::u16string log() const { return DecodeUtf16le(ReadWholeFile(folder / "log.txt")); }

  TempFolder folder;
  FakeBackend backend;
  std::unique_ptr<SkinForm> form;
};

std::string Window(const std::string& children) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Window Background=\"skin/bg.png\">" + children + "</Window>";
}

const std::string kButtonAttrs = R"( X="10" Y="20" RectX="-1" RectY="-1" RectW="-1" RectH="-1")";

// --- Skins that load ---------------------------------------------------------------------------

struct LoadCase {
  const char* what;
  std::string xml;
  std::vector<std::string> controls;
};

// Test names show what a case is about.
void PrintTo(const LoadCase& c, std::ostream* out) {
  *out << c.what;
}

class SkinLoadTable : public ::testing::TestWithParam<LoadCase> {};

TEST_P(SkinLoadTable, BuildsTheControls) {
  const LoadCase& c = GetParam();
  SkinLoad load(c.xml);
  ASSERT_TRUE(load.form->loaded()) << c.what;
  EXPECT_EQ(Describe(*load.form), c.controls) << c.what;
  EXPECT_EQ(load.log().find(u"Can't load skin xml!"), std::u16string::npos) << c.what;
}

const LoadCase kLoadCases[] = {
    {"kinds are built in kind order, each kind in document order",
     Window(R"(<ProgressBar Name="P" X="1" Y="2"/><Label Name="L1" X="3" Y="4"/>)"
            R"(<Button Name="B")" +
            kButtonAttrs + R"(/><Label Name="L2" X="5" Y="6"/>)"),
     {"Button B @10,20 0x0 hit 10,20,10,20 z0", "Label L1 @3,4 0x0 hit 3,4,3,4 z1", "Label L2 @5,6 0x0 hit 5,6,5,6 z2",
      "ProgressBar P @1,2 0x0 hit 1,2,1,2 z3"}},
    {"a Normal picture gives the size; RectW and RectH of -1 select the picture box",
     Window(R"(<Button Name="B")" + kButtonAttrs + R"(><Image Name="Normal" Background="skin/b.png"/></Button>)"),
     {"Button B @10,20 80x24 hit 10,20,90,44 z0"}},
    {"a hit rectangle of its own",
     Window(R"(<Button Name="B" X="10" Y="20" RectX="5" RectY="4" RectW="30" RectH="10">)"
            R"(<Image Name="Normal" Background="skin/b.png"/></Button>)"),
     {"Button B @10,20 80x24 hit 15,24,45,34 z0"}},
    {"RectW of 10 with RectH of -1 is 10 wide and -1 high",
     Window(R"(<Button Name="B" X="10" Y="20" RectX="0" RectY="0" RectW="10" RectH="-1"/>)"),
     {"Button B @10,20 0x0 hit 10,20,20,19 z0"}},
    {"an Image named Hover fills Normal; a later Image for a slot replaces; incomplete ones are ignored",
     Window(R"(<Button Name="B")" + kButtonAttrs +
            R"(><Image Name="Hover" Background="skin/b.png"/><Image Name="Normal" Background="skin/b2.png"/>)"
            R"(<Image Name="Focused"/><Image Background="skin/b.png"/></Button>)"),
     {"Button B @10,20 90x30 hit 10,20,100,50 z0"}},
    {"two controls with one name: both built, the name finds the later",
     Window(R"(<Button Name="Same")" + kButtonAttrs + R"( Text="first"/><Button Name="Same")" + kButtonAttrs +
            R"( Text="second"/>)"),
     {"Button - @10,20 0x0 hit 10,20,10,20 z0 'first'", "Button Same @10,20 0x0 hit 10,20,10,20 z1 'second'"}},
    {"colours: decimal, hexadecimal, octal, negative and wide values keep their low 8 bits",
     Window(R"(<Label Name="a" FontColor="255,0,128,255"/><Label Name="b" FontColor="0x80,255,255,255"/>)"
            R"(<Label Name="c" FontColor="010, 0,-1,300"/><Label Name="d" FontColor=" 1,2,3,4tail"/>)"),
     {"Label a @0,0 0x0 hit -1,-1,-1,-1 z0 #FF0080FF", "Label b @0,0 0x0 hit -1,-1,-1,-1 z1 #80FFFFFF",
      "Label c @0,0 0x0 hit -1,-1,-1,-1 z2 #0800FF2C", "Label d @0,0 0x0 hit -1,-1,-1,-1 z3 #01020304"}},
    {"alignment names add up; unknown names add nothing; shadow switch",
     Window(R"(<Label Name="a" TextAlign="center" TextVerticalAlign="middle"/>)"
            R"(<Label Name="b" TextAlign="right" TextVerticalAlign="sideways" FontShadow="0"/>)"
            R"(<Label Name="c" TextAlign="Center" TextVerticalAlign="bottom" FontShadow="2"/>)"),
     {"Label a @0,0 0x0 hit -1,-1,-1,-1 z0 align18", "Label b @0,0 0x0 hit -1,-1,-1,-1 z1 noshadow align4",
      "Label c @0,0 0x0 hit -1,-1,-1,-1 z2 align32"}},
    {"label positioning: X alone places nothing; X and Y place; with Width and Height a text box",
     Window(R"(<Label Name="x" X="7" Width="50" Height="10"/><Label Name="xy" X="7" Y="8"/>)"
            R"(<Label Name="box" X="7" Y="8" Width="50" Height="10"/><Label Name="w" X="7" Y="8" Width="50"/>)"),
     {"Label x @0,0 0x0 hit -1,-1,-1,-1 z0", "Label xy @7,8 0x0 hit 7,8,7,8 z1",
      "Label box @7,8 0x0 hit 7,8,7,8 z2 box50x10", "Label w @7,8 0x0 hit 7,8,7,8 z3"}},
    {"a label at (0, 0) gets a box unless its own 0 x 0 box equals it",
     Window(R"(<Label Name="same" X="0" Y="0" Width="0" Height="0"/><Label Name="other" X="0" Y="0" Width="5" )"
            R"(Height="5"/>)"),
     {"Label same @0,0 0x0 hit -1,-1,-1,-1 z0", "Label other @0,0 0x0 hit -1,-1,-1,-1 z1 box5x5"}},
    {"atoi numbers: blanks, signs and trailing text",
     Window(R"(<Label Name="n" X="  +12px" Y="-3.9" Size="20pt"/>)"),
     {"Label n @12,-3 0x0 hit 12,-3,12,-3 z0 size20"}},
    {"UTF-8 text, link, and a bar's format expanded at once",
     Window(R"(<Button Name="Home")" + kButtonAttrs +
            R"( Text="Сайт игры" Url="https://solmere.example/"/>)"
            R"(<ProgressBar Name="Total" X="10" Y="250" Text="Чтение: %d%%">)"
            R"(<Image Name="Normal" Background="skin/bar.png"/><Image Name="Progress" Background="skin/bar.png"/>)"
            R"(</ProgressBar>)"),
     {"Button Home @10,20 0x0 hit 10,20,10,20 z0 'Сайт игры' url https://solmere.example/",
      "ProgressBar Total @10,250 200x12 hit 10,250,210,262 z1 'Чтение: 0%'"}},
    {"other tags and other top-level nodes are ignored",
     "<!-- a comment --><Other/><Window Background=\"skin/bg.png\"><Thing/><Label Name=\"a\"/></Window>"
     "<Window Background=\"skin/none.png\"><Label Name=\"b\"/></Window>",
     {"Label a @0,0 0x0 hit -1,-1,-1,-1 z0"}},
};

INSTANTIATE_TEST_SUITE_P(SkinForm, SkinLoadTable, ::testing::ValuesIn(kLoadCases));

TEST(SkinForm, WindowIsTheBackgroundsSizeCentredOnTheScreen) {
  SkinLoad load(Window(""));
  ASSERT_TRUE(load.form->loaded());
  ASSERT_EQ(load.backend.windowClasses, std::vector<std::u16string>{u"TestSkin"});
  EXPECT_EQ(load.form->width(), 400);
  EXPECT_EQ(load.form->height(), 300);
  EXPECT_EQ(load.form->x(), (1280 - 400) / 2);
  EXPECT_EQ(load.form->y(), (1024 - 300) / 2);
  EXPECT_EQ(load.backend.lastWindow->x, 440);
  EXPECT_EQ(load.backend.lastWindow->y, 362);
  // The load composed once at its end, and the picture paths were used as written, against
  // the working folder rather than the skin file's folder.
  EXPECT_EQ(load.backend.lastWindow->presents(), 0);
  EXPECT_EQ(load.backend.loadedPaths, std::vector<std::string>{"skin/bg.png"});
}

TEST(SkinForm, AllChangesOfALoadComposeOnce) {
  SkinLoad load(Window(R"(<Label Name="a" Text="один"/><Label Name="b" Text="два"/>)"));
  EXPECT_EQ(load.backend.lastWindow->presents(), 1);
  EXPECT_EQ(load.backend.lastWindow->lastDrawing().size(), 1u + 2 * 2);
}

TEST(SkinForm, BrowserPaneIsPlacedSizedAndNavigated) {
  SkinLoad load(Window(R"(<Browser Name="Browser" X="20" Y="30" Width="300" Height="200" )"
                       R"(Url="https://solmere.example/news"/>)"));
  ASSERT_TRUE(load.form->loaded());
  ASSERT_NE(load.backend.lastBrowser, nullptr);
  EXPECT_EQ(load.backend.lastBrowser->calls, (std::vector<std::string>{"place 460,392 300x200", "rect 0,0,300,200",
                                                                       "navigate https://solmere.example/news"}));
  EXPECT_NE(load.form->FindAs<Browser>("Browser"), nullptr);
}

TEST(SkinForm, BrowserThatCannotBeMadeLeavesAnEmptyPane) {
  FakeBackend backend;
  backend.browsersFail = true;
  backend.AddPicture("skin/bg.png", 400, 300);
  TempFolder folder;
  WriteWholeFile(folder / "s.xml", Window(R"(<Browser Name="B" X="1" Y="2" Width="3" Height="4" Url="x"/>)"));
  SkinForm form(backend, u"F", (folder / "s.xml").string());
  ASSERT_TRUE(form.loaded());
  ASSERT_NE(form.FindAs<Browser>("B"), nullptr);
  EXPECT_EQ(form.FindAs<Browser>("B")->host(), nullptr);
}

TEST(SkinForm, MissingPicturesAreLoggedAndNeverDrawn) {
  SkinLoad load("<Window Background=\"skin/none.png\"><Button Name=\"B\"" + kButtonAttrs +
                "><Image Name=\"Normal\" Background=\"skin/gone.png\"/></Button></Window>");
  ASSERT_TRUE(load.form->loaded());
  EXPECT_EQ(load.form->width(), 0);
  EXPECT_EQ(load.form->height(), 0);
  const std::u16string log = load.log();
  EXPECT_NE(log.find(u"ERROR: Can't load skin picture: skin/none.png"), std::u16string::npos) << log.size();
  EXPECT_NE(log.find(u"ERROR: Can't load skin picture: skin/gone.png"), std::u16string::npos);
  load.form->Redraw();
  EXPECT_EQ(load.backend.lastWindow->lastDrawing(), std::vector<std::string>{});
}

// --- Skins that are refused --------------------------------------------------------------------

struct RejectCase {
  const char* what;
  std::string xml;
  bool logged;
};

// Test names show what a case is about.
void PrintTo(const RejectCase& c, std::ostream* out) {
  *out << c.what;
}

class SkinRejectTable : public ::testing::TestWithParam<RejectCase> {};

TEST_P(SkinRejectTable, BuildsNothing) {
  const RejectCase& c = GetParam();
  SkinLoad load(c.xml);
  EXPECT_FALSE(load.form->loaded()) << c.what;
  EXPECT_TRUE(load.backend.windowClasses.empty()) << c.what;
  EXPECT_EQ(load.form->window(), nullptr) << c.what;
  EXPECT_TRUE(load.form->controls().empty()) << c.what;
  EXPECT_TRUE(load.form->namedControls().empty()) << c.what;
  const bool logged = load.log().find(u"ERROR: Can't load skin xml!") != std::u16string::npos;
  EXPECT_EQ(logged, c.logged) << c.what;
}

std::string ManyLabels(int count) {
  std::string labels;
  for (int i = 0; i < count; ++i) labels += "<Label/>";
  return Window(labels);
}

const RejectCase kRejectCases[] = {
    {"not XML", "<Window Background=\"skin/bg.png\"><Label></Window>", true},
    {"empty file", "", true},
    {"no Window tag", "<Skin Background=\"skin/bg.png\"/>", false},
    {"Window without Background", "<Window><Label/></Window>", true},
    {"Button without X", Window(R"(<Button Y="1" RectX="-1" RectY="-1" RectW="-1" RectH="-1"/>)"), true},
    {"Button without RectH", Window(R"(<Button X="1" Y="1" RectX="-1" RectY="-1" RectW="-1"/>)"), true},
    {"Button with RectW below -1", Window(R"(<Button X="1" Y="1" RectX="0" RectY="0" RectW="-2" RectH="5"/>)"), true},
    {"Button far outside", Window(R"(<Button X="99999" Y="1" RectX="0" RectY="0" RectW="5" RectH="5"/>)"), true},
    {"Button position beyond 32 bits",
     Window(R"(<Button X="4294967306" Y="1" RectX="0" RectY="0" RectW="5" RectH="5"/>)"), true},
    {"Browser without Url", Window(R"(<Browser X="1" Y="1" Width="10" Height="10"/>)"), true},
    {"Browser without Height", Window(R"(<Browser X="1" Y="1" Width="10" Url="about:blank"/>)"), true},
    {"ProgressBar without Y", Window(R"(<ProgressBar X="1"/>)"), true},
    {"Label of negative width", Window(R"(<Label X="1" Y="1" Width="-5" Height="5"/>)"), true},
    {"Label wider than any window", Window(R"(<Label X="1" Y="1" Width="16385" Height="5"/>)"), true},
    {"Label of font size 0", Window(R"(<Label Size="0"/>)"), true},
    {"FontColor with three parts", Window(R"(<Label FontColor="255,255,255"/>)"), true},
    {"FontColor with a blank before a comma", Window(R"(<Label FontColor="255 ,1,2,3"/>)"), true},
    {"a picture larger than 16384 pixels",
     Window(R"(<Button)" + kButtonAttrs + R"(><Image Name="Focused" Background="skin/huge.png"/></Button>)"), true},
    {"a background larger than 16384 pixels", "<Window Background=\"skin/huge.png\"/>", true},
    {"more controls than any skin needs", ManyLabels(4097), true},
};

INSTANTIATE_TEST_SUITE_P(SkinForm, SkinRejectTable, ::testing::ValuesIn(kRejectCases));

TEST(SkinForm, ControlCountAtTheLimitLoads) {
  SkinLoad load(ManyLabels(4096));
  EXPECT_TRUE(load.form->loaded());
  EXPECT_EQ(load.form->controls().size(), 4096u);
}

TEST(SkinForm, MissingFileIsLogged) {
  TempFolder folder;
  Log::Open(folder.U16("log.txt"));
  FakeBackend backend;
  SkinForm form(backend, u"F", (folder / "absent.xml").string());
  Log::Open(folder.U16("other.txt"));
  EXPECT_FALSE(form.loaded());
  EXPECT_NE(DecodeUtf16le(ReadWholeFile(folder / "log.txt")).find(u"ERROR: Can't load skin xml!"),
            std::u16string::npos);
}

}  // namespace
}  // namespace Ormel::testing
