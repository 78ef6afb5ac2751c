// A small program for the GUI tests: shows a skinned form or asks a question, and writes what
// happens into a log file that the test reads back.
//
//   ormel_demo form LOG SKIN         the form of SKIN; "CheckButton" is disabled; a click on
//                                    "CloseButton" ends the program
//   ormel_demo ask LOG SECONDS       the question box with a Russian question

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/text.h"
#include "ui/progress_bar.h"
#include "ui/question_box.h"
#include "ui/skin_form.h"
#include "ui/win32/win32_backend.h"
#include "ui/win32/windows_headers.h"

// After <windows.h>, which it needs.
#include <shellapi.h>

namespace {

std::FILE* logFile = nullptr;

void Say(const std::string& line) {
  std::fprintf(logFile, "%s\n", line.c_str());
  std::fflush(logFile);
}

std::string NameOf(const Ormel::SkinForm& form, const Ormel::Control* control) {
  for (const auto& [name, each] : form.namedControls()) {
    if (each == control) return name;
  }
  return "-";
}

class DemoForm : public Ormel::SkinForm {
 public:
  DemoForm(Ormel::Backend& backend, const std::string& skin) : SkinForm(backend, u"OrmelDemo", skin) {
    SetText(u"Ormel demo");
    for (const auto& [name, control] : namedControls()) {
      control->SetClickHandler([this, controlName = name](Ormel::Control&, int, int, int) {
        Say("click " + controlName);
        if (controlName == "CloseButton") PostQuitMessage(0);
      });
    }
    // What the updater's window shows while it works: one switch button, a bar under way.
    BeginBatch();
    if (Ormel::Control* checked = Find("NoGfxCheckedButton")) {
      checked->SetVisible(false);
      checked->SetDisabled(true);
    }
    if (auto* total = FindAs<Ormel::ProgressBar>("TotalProgress")) {
      total->SetText(u"Обновление файлов: %d%%");
      total->SetProgress(0.42);
    }
    if (Ormel::Control* version = Find("Label2")) version->SetText(u"Версия клиента: 2");
    if (Ormel::Control* disabled = Find("CheckButton")) {
      disabled->SetDisabled(true);
      disabled->SetState(Ormel::kDisabled);
    }
    EndBatch();
  }

  void OnMouseDown(int button, int x, int y) override {
    Say("background down " + std::to_string(x) + " " + std::to_string(y));
    if (DragFromBackground(button, x, y))
      Say("drag ended " + std::to_string(this->x()) + " " + std::to_string(this->y()));
  }
  void OnMouseUp(int, int x, int y) override { Say("background up " + std::to_string(x) + " " + std::to_string(y)); }
  void OnMouseMoveOverControl(int x, int y) override {
    const Ormel::Control* hit = HitTest(x, y);
    Say("over " + NameOf(*this, hit) + " state " + std::to_string(hit != nullptr ? hit->state() : -1));
  }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 4) return 2;
  const std::string mode = platform::Utf8FromUtf16(reinterpret_cast<const char16_t*>(argv[1]));
  logFile = _wfopen(argv[2], L"wb");
  if (logFile == nullptr) return 3;
  const std::string third = platform::Utf8FromUtf16(reinterpret_cast<const char16_t*>(argv[3]));
  LocalFree(argv);

  if (mode == "ask") {
    Ormel::SteadyCountdownClock clock;
    Ormel::QuestionBox box(Ormel::win32::Win32Backend::ForInstance(nullptr), clock, u"MessageBox", "skin/mbtuni.xml",
                           u"Solmere Classic Updater MessageBox");
    Say("box " + std::to_string(box.x()) + " " + std::to_string(box.y()) + " " + std::to_string(box.width()) + " " +
        std::to_string(box.height()));
    const bool yes = box.Ask(nullptr, u"Требуется обновление",
                             u"Доступна новая версия клиента. Обновить клиент сейчас? Загрузка займёт несколько минут.",
                             std::atoi(third.c_str()));
    Say(yes ? "answer yes" : "answer no");
    return 0;
  }

  DemoForm form(Ormel::win32::Win32Backend::ForInstance(instance), third);
  if (!form.loaded()) {
    Say("not loaded");
    return 4;
  }
  form.Show();
  Say("shown " + std::to_string(form.x()) + " " + std::to_string(form.y()) + " " + std::to_string(form.width()) + " " +
      std::to_string(form.height()));
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  Say("closed at " + std::to_string(form.x()) + " " + std::to_string(form.y()));
  return 0;
}
