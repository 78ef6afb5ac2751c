// The main window's buttons: close, minimise, the operations, Play with the graphics switch,
// and the links.

#include "app/client_paths.h"
#include "app/desktop.h"
#include "base/number_file.h"
#include "engine/client_archive_set.h"
#include "ui/button.h"
#include "workflow/main_form.h"
#include "workflow/message_box_timer.h"
#include "workflow/string_table.h"
#include "workflow/update_workflow.h"

void MainForm::OnCloseClick() {
  if (closing_) return;
  if (archives_->busy && Ask(Text(TextId::kUpdateNotFinished), Text(TextId::kCancelQuestion), 0) != kAnswerYes) {
    return;
  }
  // The question may have ended because the window was closed meanwhile.
  if (closing_) return;
  CancelAndQuit();
}

void MainForm::OnMinimizeClick() {
  if (window() != nullptr) window()->Minimize();
}

void MainForm::OnPlayClick() {
  if (closing_ || playing_) return;
  playing_ = true;
  // Play is enabled as soon as an operation has shown its result; its worker may still be
  // writing its last texts. The archives close only once no worker is left.
  WaitWhileDispatching([this] { workflow_->WaitForWorkers(); });
  const std::u16string folder = archives_->clientFolder;
  CloseArchives();
  if (desktop_.StartProgram(NormalisedPath(folder, {kClientProgramName}), ClientArguments(graphicsSwitch_), folder)) {
    BeginClosing();
    Quit();
  } else {
    // The client did not start: the archives are opened again (and the versions compared),
    // so that a later check or update finds them open.
    workflow_->StartStartup();
  }
  playing_ = false;
}

void MainForm::OnManualClick() {
  if (closing_) return;
  std::u16string path = workflow_->manualPackagePath();
  if (!ChooseManualPackage(path)) return;
  workflow_->StartManualUpdate(path);
}

void MainForm::OnCheckClick() {
  if (closing_) return;
  workflow_->ConfirmCheck();
}

void MainForm::OnUpdateClick() {
  if (closing_) return;
  workflow_->StartUpdate();
}

void MainForm::OnLinkClick(Ormel::Control& control) {
  const auto* button = dynamic_cast<const Ormel::Button*>(&control);
  if (button != nullptr && !button->url().empty()) desktop_.OpenAddress(button->url());
}

void MainForm::OnNoGfxClick() {
  ShowGraphicsSwitch(true);
  WriteGraphicsSwitch(true);
  graphicsSwitch_ = true;
}

void MainForm::OnNoGfxCheckedClick() {
  ShowGraphicsSwitch(false);
  WriteGraphicsSwitch(false);
  graphicsSwitch_ = false;
}

bool MainForm::ReadGraphicsSwitch() {
  graphicsSwitch_ = ReadOrCreateNumberFile(GraphicsSwitchPathFrom(CurrentFolder())) != 0;
  return graphicsSwitch_;
}

void MainForm::WriteGraphicsSwitch(bool on) {
  WriteNumberFile(GraphicsSwitchPathFrom(CurrentFolder()), on ? 1 : 0);
}

void MainForm::ShowGraphicsSwitch(bool on) {
  BeginBatch();
  Ormel::Button* const hidden = on ? noGfxButton_ : noGfxCheckedButton_;
  Ormel::Button* const shown = on ? noGfxCheckedButton_ : noGfxButton_;
  if (hidden != nullptr) {
    hidden->SetVisible(false);
    Enable(hidden, false);
  }
  if (shown != nullptr) {
    shown->SetVisible(true);
    Enable(shown, true);
  }
  // Visibility alone asks for no redraw.
  Redraw();
  EndBatch();
}
