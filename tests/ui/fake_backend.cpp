#include "ui/fake_backend.h"

#include <chrono>
#include <cstdio>

#include "platform/text.h"

namespace Ormel::testing {
namespace {

std::string Number(float value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(value));
  return buffer;
}

std::string NameOf(const Picture& picture) {
  const auto* fake = dynamic_cast<const FakePicture*>(&picture);
  return fake != nullptr ? fake->name() : "?";
}

}  // namespace

void RecordingCanvas::DrawPicture(const Picture& picture, int x, int y) {
  lines.push_back("picture " + NameOf(picture) + " " + std::to_string(x) + "," + std::to_string(y));
}

void RecordingCanvas::DrawPictureScaled(const Picture& picture, int x, int y, int width, int height) {
  lines.push_back("scaled " + NameOf(picture) + " " + std::to_string(x) + "," + std::to_string(y) + " " +
                  std::to_string(width) + "x" + std::to_string(height));
}

TextSize RecordingCanvas::MeasureText(const Font& font, std::u16string_view text) {
  return {static_cast<float>(text.size()) * font.size() / 2, font.size() + 2};
}

void RecordingCanvas::DrawText(const Font& /*font*/, std::u16string_view text, const TextBox& box, uint32_t argb) {
  char color[16];
  std::snprintf(color, sizeof color, "#%08X", argb);
  lines.push_back("text '" + platform::Utf8FromUtf16(text) + "' " + Number(box.x) + "," + Number(box.y) + " " +
                  Number(box.width) + "x" + Number(box.height) + " " + color);
}

void FakeFormWindow::SetTitle(std::u16string_view text) {
  title = text;
}

void FakeFormWindow::Place(int newX, int newY, int newWidth, int newHeight) {
  x = newX;
  y = newY;
  width = newWidth;
  height = newHeight;
}

bool FakeFormWindow::Show() {
  ++showCalls;
  if (!visible.exchange(true) && owner != nullptr) owner->OnShow();
  return true;
}

void FakeFormWindow::Hide() {
  if (visible.exchange(false) && owner != nullptr) owner->OnHide();
}

void FakeFormWindow::SetEnabled(bool value) {
  if (enabled.exchange(value) == value || owner == nullptr) return;
  if (value) {
    owner->OnEnable();
  } else {
    owner->OnDisable();
  }
}

void FakeFormWindow::BringToFront() {
  ++frontCalls;
}

bool FakeFormWindow::Present(Form& form) {
  RecordingCanvas canvas;
  form.Compose(canvas);
  if (duringPresent) duringPresent();
  {
    std::lock_guard lock(mutex_);
    lastDrawing_ = std::move(canvas.lines);
  }
  ++presents_;
  return true;
}

std::vector<std::string> FakeFormWindow::lastDrawing() const {
  std::lock_guard lock(mutex_);
  return lastDrawing_;
}

void FakeBrowserHost::Place(int x, int y, int width, int height) {
  calls.push_back("place " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) + "x" +
                  std::to_string(height));
}

void FakeBrowserHost::SetRect(int left, int top, int right, int bottom) {
  calls.push_back("rect " + std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(right) + "," +
                  std::to_string(bottom));
}

void FakeBrowserHost::Navigate(std::u16string_view address) {
  calls.push_back("navigate " + platform::Utf8FromUtf16(address));
}

void FakeBrowserHost::SetEnabled(bool enabled) {
  calls.push_back(enabled ? "enable" : "disable");
}

void FakeBrowserHost::SetVisible(bool visible) {
  calls.push_back(visible ? "show" : "hide");
}

void FakeBackend::AddPicture(const std::string& path, int width, int height) {
  pictures_[path] = {width, height};
}

std::unique_ptr<Picture> FakeBackend::LoadPicture(const std::u16string& path) {
  const std::string name = platform::Utf8FromUtf16(path);
  loadedPaths.push_back(name);
  const auto found = pictures_.find(name);
  if (found == pictures_.end()) return std::make_unique<FakePicture>(name, 0, 0, false);
  return std::make_unique<FakePicture>(name, found->second.first, found->second.second, true);
}

std::unique_ptr<Font> FakeBackend::MakeFont(float sizePx) {
  return std::make_unique<FakeFont>(sizePx, fontsUsable);
}

std::unique_ptr<FormWindow> FakeBackend::CreateFormWindow(Form& form, std::u16string_view className, int width,
                                                          int height) {
  windowClasses.emplace_back(className);
  if (windowsFail) return nullptr;
  auto window = std::make_unique<FakeFormWindow>();
  window->owner = &form;
  window->width = width;
  window->height = height;
  lastWindow = window.get();
  return window;
}

std::unique_ptr<BrowserHost> FakeBackend::CreateBrowserHost(Form& /*form*/) {
  if (browsersFail) return nullptr;
  auto host = std::make_unique<FakeBrowserHost>();
  lastBrowser = host.get();
  return host;
}

std::optional<int> FakeBackend::PumpMessages(std::chrono::milliseconds wait) {
  std::vector<std::function<void()>> tasks;
  std::optional<int> quit;
  const MessageQueue queue = CurrentQueue();
  {
    std::unique_lock lock(queueMutex_);
    ++pumps_[std::this_thread::get_id()];
    tasks.swap(queue_);
    quit.swap(quit_);
    if (tasks.empty() && !quit) {
      // Until a message or a wake comes: a task, a quit request, or a Wake of this thread.
      changed_.wait_for(lock, wait, [&] { return !queue_.empty() || quit_ || woken_.count(queue) != 0; });
    }
    woken_.erase(queue);
  }
  for (auto& task : tasks) task();
  return quit;
}

MessageQueue FakeBackend::CurrentQueue() {
  return std::hash<std::thread::id>{}(std::this_thread::get_id());
}

void FakeBackend::Wake(MessageQueue queue) {
  {
    std::lock_guard lock(queueMutex_);
    woken_.insert(queue);
  }
  changed_.notify_all();
}

void FakeBackend::Post(std::function<void()> task) {
  {
    std::lock_guard lock(queueMutex_);
    queue_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void FakeBackend::PostQuitRequest(int code) {
  {
    std::lock_guard lock(queueMutex_);
    quit_ = code;
  }
  changed_.notify_all();
}

int FakeBackend::pumpsOf(std::thread::id thread) const {
  std::lock_guard lock(queueMutex_);
  const auto found = pumps_.find(thread);
  return found != pumps_.end() ? found->second : 0;
}

}  // namespace Ormel::testing
