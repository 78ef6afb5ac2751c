// The toolkit's Windows side under Wine: fonts, pictures, the default skin on real windows,
// the question box with a real message queue, and the browser host's answers to the control.

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "support/wait_until.h"
#include "ui/browser.h"
#include "ui/button.h"
#include "ui/label.h"
#include "ui/progress_bar.h"
#include "ui/question_box.h"
#include "ui/skin_form.h"
#include "ui/win32/browser_host_window.h"
#include "ui/win32/gdiplus_font.h"
#include "ui/win32/gdiplus_picture.h"
#include "ui/win32/web_browser.h"
#include "ui/win32/win32_backend.h"

namespace Ormel::win32 {
namespace {

Win32Backend& Backend() {
  return Win32Backend::ForInstance(GetModuleHandleW(nullptr));
}

TEST(GdiplusFont, FallsBackToAFamilyThatExists) {
  ASSERT_TRUE(GdiplusReady());
  for (float size : {14.0f, 17.0f, 9.5f}) {
    GdiplusFont font(size);
    ASSERT_TRUE(font.usable()) << size;
    EXPECT_FALSE(font.familyName().empty());
    EXPECT_EQ(font.font()->GetSize(), size);
  }
  // Calibri is missing under Wine; the chain ends on a family it has.
  GdiplusFont font(14);
  const std::wstring name = font.familyName();
  EXPECT_TRUE(name == L"Calibri" || name == L"DejaVu Sans" || name == L"Liberation Sans" || name == L"Segoe UI" ||
              name == L"Tahoma" || name == L"Arial")
      << std::string(name.begin(), name.end());
}

TEST(GdiplusPicture, ReadsAPictureOrFailsCleanly) {
  ASSERT_TRUE(GdiplusReady());
  GdiplusPicture button(u"skin/button_normal.png");
  ASSERT_TRUE(button.loaded());
  EXPECT_EQ(button.width(), 220);
  EXPECT_EQ(button.height(), 40);
  EXPECT_EQ(button.bitmap()->GetPixelFormat(), PixelFormat32bppPARGB);
  GdiplusPicture missing(u"skin/no_such_picture.png");
  EXPECT_FALSE(missing.loaded());
  EXPECT_EQ(missing.width(), 0);
  GdiplusPicture notAPicture(u"skin/mainuni.xml");
  EXPECT_FALSE(notAPicture.loaded());
}

TEST(DefaultSkin, MainWindowHasEveryControlTheUpdaterLooksUp) {
  SkinForm form(Backend(), u"DefaultSkinTest", "skin/mainuni.xml");
  ASSERT_TRUE(form.loaded());
  ASSERT_NE(form.window(), nullptr);
  EXPECT_EQ(form.width(), 860);
  EXPECT_EQ(form.height(), 540);
  for (const char* name : {"CloseButton", "MinimizeButton", "PlayButton", "ManualButton", "CheckButton", "UpdateButton",
                           "HomeButton", "SocialButton", "RegisterButton", "NoGfxButton", "NoGfxCheckedButton"}) {
    const auto* button = form.FindAs<Button>(name);
    ASSERT_NE(button, nullptr) << name;
    for (int slot = kNormal; slot <= kDisabled; ++slot) {
      ASSERT_NE(button->picture(slot), nullptr) << name << " " << slot;
      EXPECT_TRUE(button->picture(slot)->loaded()) << name << " " << slot;
    }
  }
  EXPECT_NE(form.FindAs<Label>("Label1"), nullptr);
  EXPECT_NE(form.FindAs<Label>("Label2"), nullptr);
  for (const char* name : {"CurrentProgress", "TotalProgress"}) {
    const auto* bar = form.FindAs<ProgressBar>(name);
    ASSERT_NE(bar, nullptr) << name;
    EXPECT_TRUE(bar->picture(kProgress) != nullptr && bar->picture(kProgress)->loaded()) << name;
  }
  const auto* browser = form.FindAs<Browser>("Browser");
  ASSERT_NE(browser, nullptr);
  EXPECT_NE(browser->host(), nullptr);
  for (const char* link : {"HomeButton", "SocialButton", "RegisterButton"}) {
    EXPECT_FALSE(form.FindAs<Button>(link)->url().empty()) << link;
  }
}

TEST(QuestionBoxOnWindows, AnswersByCountDownAndFromAnotherThread) {
  SteadyCountdownClock clock;
  QuestionBox box(win32::Win32Backend::ForInstance(nullptr), clock, u"MessageBox", "skin/mbtuni.xml", u"Вопрос");
  ASSERT_TRUE(box.usable());
  EXPECT_EQ(box.width(), 440);
  EXPECT_TRUE(box.Ask(nullptr, u"Вопрос", u"Сразу да", -1));
  // One second of count-down, captions composed from the count-down's thread, then yes.
  EXPECT_TRUE(box.Ask(nullptr, u"Вопрос", u"Отсчёт", 1));
  EXPECT_EQ(box.Find("ButtonYes")->text(), u"Да (0)");
  EXPECT_FALSE(box.visible());
  // A worker answering while this thread's modal loop runs.
  auto answerer = std::async(std::launch::async, [&box] {
    EXPECT_TRUE(testsupport::WaitUntil([&box] { return box.asking(); })) << "the question was never asked";
    box.Answer(false);
  });
  EXPECT_FALSE(box.Ask(nullptr, u"Вопрос", u"Ответит другой поток", 30));
  answerer.get();
}

// --- The browser host ----------------------------------------------------------------------------

class BrowserHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ole.ok());
    host = BrowserHostWindow::Create(nullptr, GetModuleHandleW(nullptr),
                                     [this](const wchar_t* text) { reports.emplace_back(text); });
    ASSERT_NE(host, nullptr);
  }
  bool refusedHere() const {
    const char* refused = std::getenv("SOLMERE_BROWSER_REFUSED");
    return refused != nullptr && refused[0] == '1';
  }

  platform::win32::OleSession ole;
  std::vector<std::wstring> reports;
  std::unique_ptr<BrowserHostWindow> host;
};

TEST_F(BrowserHostTest, CreatedWithoutADocumentUnderWine) {
  if (refusedHere()) GTEST_SKIP() << "this run refuses the control";
  WebBrowser& browser = host->browser();
  EXPECT_TRUE(reports.empty());
  ASSERT_TRUE(browser.created());
  // No HTML engine: navigation succeeds, there is no document to take the handler.
  host->SetRect(0, 0, 559, 329);
  host->Navigate(u"https://solmere-classic.example/news");
  EXPECT_FALSE(browser.handlerInstalled());
  EXPECT_EQ(browser.rect().right, 559);
  host->Place(100, 100, 559, 329);
  RECT placed;
  ASSERT_TRUE(GetWindowRect(host->handle(), &placed));
  EXPECT_EQ(placed.right - placed.left, 559);
}

TEST_F(BrowserHostTest, RefusedControlIsReportedAndLeavesAnEmptyPane) {
  if (!refusedHere()) GTEST_SKIP() << "only in the run that refuses the control (ieframe disabled)";
  ASSERT_EQ(reports, std::vector<std::wstring>{L"Cannot create oleObject CLSID_WebBrowser"});
  EXPECT_FALSE(host->browser().created());
  // Later requests are ignored.
  host->SetRect(0, 0, 10, 10);
  host->Navigate(u"about:blank");
  EXPECT_EQ(reports.size(), 1u);
}

TEST_F(BrowserHostTest, QueryInterfaceAnswersForEachInterface) {
  WebBrowser& site = host->browser();
  const ULONG before = site.references();
  struct Case {
    const IID* iid;
    void* expected;
  };
  const Case cases[] = {
      {&IID_IUnknown, static_cast<IOleClientSite*>(&site)},
      {&IID_IOleClientSite, static_cast<IOleClientSite*>(&site)},
      {&IID_IOleInPlaceSite, static_cast<IOleInPlaceSite*>(&site)},
      {&IID_IOleWindow, static_cast<IOleInPlaceSite*>(&site)},
      {&IID_IStorage, static_cast<IStorage*>(&site)},
      {&IID_IDocHostUIHandler, static_cast<IDocHostUIHandler*>(&site)},
      {&IID_IDispatch, nullptr},
      {&IID_IOleObject, nullptr},
      {&IID_IOleContainer, nullptr},
  };
  for (const Case& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    const HRESULT result = static_cast<IStorage*>(&site)->QueryInterface(*c.iid, &object);
    EXPECT_EQ(result, c.expected != nullptr ? S_OK : E_NOINTERFACE);
    EXPECT_EQ(object, c.expected);
    if (object != nullptr) static_cast<IUnknown*>(object)->Release();
  }
  EXPECT_EQ(site.references(), before);
  EXPECT_EQ(static_cast<IOleClientSite*>(&site)->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(BrowserHostTest, HostInformationAndWindowContext) {
  WebBrowser& site = host->browser();
  DOCHOSTUIINFO info = {};
  ASSERT_EQ(site.GetHostInfo(&info), S_OK);
  EXPECT_EQ(info.cbSize, sizeof(DOCHOSTUIINFO));
  EXPECT_EQ(info.dwFlags, 0x2Fu);
  EXPECT_EQ(info.dwDoubleClick, static_cast<DWORD>(DOCHOSTUIDBLCLK_DEFAULT));

  host->SetRect(0, 0, 300, 200);
  IOleInPlaceFrame* frame = reinterpret_cast<IOleInPlaceFrame*>(1);
  IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
  RECT position = {}, clip = {};
  OLEINPLACEFRAMEINFO frameInfo = {};
  frameInfo.cb = sizeof frameInfo;
  frameInfo.fMDIApp = TRUE;
  ASSERT_EQ(site.GetWindowContext(&frame, &document, &position, &clip, &frameInfo), S_OK);
  EXPECT_EQ(frame, nullptr);
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ(position.right, 300);
  EXPECT_EQ(position.bottom, 200);
  EXPECT_EQ(clip.right, 300);
  EXPECT_FALSE(frameInfo.fMDIApp);
  EXPECT_EQ(frameInfo.hwndFrame, host->handle());
  EXPECT_EQ(frameInfo.haccel, nullptr);
  EXPECT_EQ(frameInfo.cAccelEntries, 0u);

  HWND window = nullptr;
  ASSERT_EQ(site.GetWindow(&window), S_OK);
  EXPECT_EQ(window, host->handle());
}

TEST_F(BrowserHostTest, MonikerContainerAndOtherAnswers) {
  WebBrowser& site = host->browser();
  struct Case {
    DWORD assign, which;
    HRESULT expected;
  };
  const Case cases[] = {
      {OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, E_FAIL},
      {OLEGETMONIKER_FORCEASSIGN, OLEWHICHMK_CONTAINER, E_NOTIMPL},
      {OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJREL, E_NOTIMPL},
      {OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, E_NOTIMPL},
  };
  for (const Case& c : cases) {
    IMoniker* moniker = reinterpret_cast<IMoniker*>(1);
    EXPECT_EQ(site.GetMoniker(c.assign, c.which, &moniker), c.expected) << c.assign << " " << c.which;
    EXPECT_EQ(moniker, nullptr);
  }
  IOleContainer* container = reinterpret_cast<IOleContainer*>(1);
  EXPECT_EQ(site.GetContainer(&container), E_NOINTERFACE);
  EXPECT_EQ(container, nullptr);
  EXPECT_EQ(site.SaveObject(), E_NOTIMPL);
  EXPECT_EQ(site.ShowObject(), S_OK);
  EXPECT_EQ(site.CanInPlaceActivate(), S_OK);
  EXPECT_EQ(site.Scroll(SIZE{1, 1}), E_NOTIMPL);
  EXPECT_EQ(site.SetClass(CLSID_NULL), S_OK);
  EXPECT_EQ(site.Commit(0), E_NOTIMPL);
  EXPECT_EQ(site.ShowContextMenu(0, nullptr, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(site.TranslateAccelerator(nullptr, nullptr, 0), E_NOTIMPL);
}

}  // namespace
}  // namespace Ormel::win32
