#pragma once
// A toolkit backend without a screen, for the portable tests and the skin fuzzer: pictures
// of sizes a test declares, fonts that measure 7 px per character at 14 px, windows that
// record what each composition drew, and a message queue that runs posted tasks.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/wait_until.h"
#include "ui/backend.h"
#include "ui/form.h"

namespace Ormel::testing {

class FakePicture : public Picture {
 public:
  FakePicture(std::string name, int width, int height, bool loaded)
      : name_(std::move(name)), width_(width), height_(height), loaded_(loaded) {}
  bool loaded() const override { return loaded_; }
  int width() const override { return width_; }
  int height() const override { return height_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  int width_;
  int height_;
  bool loaded_;
};

class FakeFont : public Font {
 public:
  FakeFont(float size, bool usable) : size_(size), usable_(usable) {}
  float size() const override { return size_; }
  bool usable() const override { return usable_; }

 private:
  float size_;
  bool usable_;
};

// Records each drawing as one line: "picture NAME X,Y", "scaled NAME X,Y WxH",
// "text 'TEXT' X,Y WxH #AARRGGBB".
class RecordingCanvas : public Canvas {
 public:
  void DrawPicture(const Picture& picture, int x, int y) override;
  void DrawPictureScaled(const Picture& picture, int x, int y, int width, int height) override;
  // width = 7 px per UTF-16 unit at 14 px (scaled with the size), height = size + 2.
  TextSize MeasureText(const Font& font, std::u16string_view text) override;
  void DrawText(const Font& font, std::u16string_view text, const TextBox& box, uint32_t argb) override;

  std::vector<std::string> lines;
};

class FakeFormWindow : public FormWindow {
 public:
  void SetTitle(std::u16string_view title) override;
  void Place(int x, int y, int width, int height) override;
  bool Show() override;
  void Hide() override;
  void SetEnabled(bool enabled) override;
  void BringToFront() override;
  void Minimize() override {}
  void BeginDrag() override { ++drags; }
  bool Present(Form& form) override;

  // What the last composition drew.
  std::vector<std::string> lastDrawing() const;
  int presents() const { return presents_; }

  std::u16string title;
  int x = 0, y = 0, width = 0, height = 0;
  std::atomic<bool> visible{false};
  std::atomic<bool> enabled{true};
  std::atomic<int> showCalls{0};
  std::atomic<int> frontCalls{0};
  std::atomic<int> drags{0};
  // Called inside each composition, after drawing: tests hold a composition open with it.
  std::function<void()> duringPresent;
  // Set by the backend: showing, hiding, enabling and disabling call the form's hooks, as
  // the system's messages do.
  Form* owner = nullptr;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lastDrawing_;
  std::atomic<int> presents_{0};
};

class FakeBrowserHost : public BrowserHost {
 public:
  void Place(int x, int y, int width, int height) override;
  void SetRect(int left, int top, int right, int bottom) override;
  void Navigate(std::u16string_view address) override;
  void SetEnabled(bool enabled) override;
  void SetVisible(bool visible) override;
  std::vector<std::string> calls;
};

class FakeBackend : public Backend {
 public:
  // A picture file the backend can "read"; any other path fails to load.
  void AddPicture(const std::string& path, int width, int height);

  std::unique_ptr<Picture> LoadPicture(const std::u16string& path) override;
  std::unique_ptr<Font> MakeFont(float sizePx) override;
  std::unique_ptr<FormWindow> CreateFormWindow(Form& form, std::u16string_view className, int width,
                                               int height) override;
  std::unique_ptr<BrowserHost> CreateBrowserHost(Form& form) override;
  ScreenSize PrimaryScreenSize() override { return {1280, 1024}; }
  std::optional<int> PumpMessages(std::chrono::milliseconds wait) override;
  MessageQueue CurrentQueue() override;
  void Wake(MessageQueue queue) override;
  void PostQuit(int code) override { repostedQuit = code; }

  // Runs `task` on the next thread that pumps messages, as a window message would.
  void Post(std::function<void()> task);
  // Makes the next pump take a quit request with `code`.
  void PostQuitRequest(int code);
  // How often `thread` has pumped so far.
  int pumpsOf(std::thread::id thread) const;

  bool fontsUsable = true;
  bool windowsFail = false;
  bool browsersFail = false;
  std::vector<std::string> loadedPaths;
  std::vector<std::u16string> windowClasses;
  FakeFormWindow* lastWindow = nullptr;
  FakeBrowserHost* lastBrowser = nullptr;
  std::optional<int> repostedQuit;

 private:
  std::map<std::string, std::pair<int, int>> pictures_;
  mutable std::mutex queueMutex_;
  std::vector<std::function<void()>> queue_;
  std::optional<int> quit_;
  std::set<MessageQueue> woken_;
  std::condition_variable changed_;
  std::map<std::thread::id, int> pumps_;
};

using testsupport::WaitUntil;

}  // namespace Ormel::testing
