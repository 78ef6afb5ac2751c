#pragma once
// The launcher program's small window: what it does, how far it has come, and what went wrong.
// Its skin ("skin/launcher.xml") has the labels "Status" and "Detail" and the progress bar
// "Progress"; a skin without one of them still works, without that part. The texts are set
// from the worker; each change draws at once.

#include <string>
#include <string_view>

#include "ui/skin_form.h"

namespace Ormel {
class Label;
class ProgressBar;
}  // namespace Ormel

class LauncherWindow : public Ormel::SkinForm {
 public:
  static constexpr const char* kSkinPath = "skin/launcher.xml";
  static constexpr std::u16string_view kTitle = u"Solmere Classic Launcher";

  LauncherWindow(Ormel::Backend& backend, const std::string& skinPath = kSkinPath);

  void ShowStatus(std::u16string_view text);
  void ShowDetail(std::u16string_view text);
  // Clamped to [0, 1].
  void ShowProgress(double fraction);

  // The window is dragged by its background; the system's close waits for the work to end.
  void OnMouseDown(int button, int x, int y) override;
  bool OnClose() override { return true; }

 private:
  Ormel::Label* status_ = nullptr;
  Ormel::Label* detail_ = nullptr;
  Ormel::ProgressBar* progress_ = nullptr;
};
