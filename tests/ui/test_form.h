#pragma once
// A form for the portable tests: a fake window and background, controls made by the test,
// and a log of every mouse hook that fires, in order.

#include <memory>
#include <string>
#include <vector>

#include "ui/button.h"
#include "ui/fake_backend.h"
#include "ui/form.h"

namespace Ormel::testing {

class TestForm : public Form {
 public:
  explicit TestForm(FakeBackend& backend, bool withBackground = true) : Form(backend, u"TestForm") {
    backend.AddPicture("background.png", 400, 300);
    if (withBackground) SetBackground(backend.LoadPicture(u"background.png"));
    auto window = std::make_unique<FakeFormWindow>();
    window_ = window.get();
    AttachWindow(std::move(window));
    Place(100, 50, 400, 300);
  }

  void OnMouseDown(int, int x, int y) override { Log("form.down", x, y); }
  void OnMouseUp(int, int x, int y) override { Log("form.up", x, y); }
  void OnMouseMove(int x, int y) override { Log("form.move", x, y); }
  void OnMouseEnterBackground(int x, int y) override { Log("form.enter", x, y); }
  void OnMouseMoveOverControl(int x, int y) override { Log("form.overcontrol", x, y); }

  void Log(const std::string& what, int, int) { events.push_back(what); }
  FakeFormWindow& fakeWindow() { return *window_; }

  std::vector<std::string> events;

 private:
  FakeFormWindow* window_;
};

// A button that logs its mouse hooks and clicks into its form's log under its name.
class LoggingButton : public Button {
 public:
  LoggingButton(TestForm& form, std::string name) : Button(form), form_(form), name_(std::move(name)) {
    SetClickHandler([this](Control&, int, int, int) { form_.events.push_back(name_ + ".click"); });
  }
  void OnMouseDown(int, int, int) override { form_.events.push_back(name_ + ".down"); }
  void OnMouseUp(int, int, int) override { form_.events.push_back(name_ + ".up"); }
  void OnMouseMove(int, int) override { form_.events.push_back(name_ + ".move"); }

 private:
  TestForm& form_;
  std::string name_;
};

}  // namespace Ormel::testing
