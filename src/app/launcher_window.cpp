#include "app/launcher_window.h"

#include "ui/label.h"
#include "ui/progress_bar.h"

LauncherWindow::LauncherWindow(Ormel::Backend& backend, const std::string& skinPath)
    : SkinForm(backend, u"LauncherForm", skinPath) {
  SetText(kTitle);
  status_ = FindAs<Ormel::Label>("Status");
  detail_ = FindAs<Ormel::Label>("Detail");
  progress_ = FindAs<Ormel::ProgressBar>("Progress");
}

void LauncherWindow::ShowStatus(std::u16string_view text) {
  if (status_ != nullptr) status_->SetText(text);
}

void LauncherWindow::ShowDetail(std::u16string_view text) {
  if (detail_ != nullptr) detail_->SetText(text);
}

void LauncherWindow::ShowProgress(double fraction) {
  if (progress_ != nullptr) progress_->SetProgress(fraction);
}

void LauncherWindow::OnMouseDown(int button, int x, int y) {
  DragFromBackground(button, x, y);
}
