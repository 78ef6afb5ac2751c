#include "app/updater_startup.h"

#include "app/client_paths.h"
#include "app/desktop.h"
#include "app/patcher_version.h"
#include "base/log.h"
#include "engine/client_archive_set.h"
#include "platform/text.h"
#include "workflow/message_box_timer.h"

namespace {

// Another updater window would only wait for this one; a running client must not see its
// archives change. Either way nothing is updated: true when this run may go on.
bool MayRun(const UpdaterSetup& setup, MessageBoxTimer& questions) {
  if (!setup.desktop.ClaimSingleInstance(std::u16string(kSingleInstanceName))) {
    setup.desktop.ShowSystemMessage(std::u16string(kAlreadyRunning), std::u16string(kErrorCaption));
    return false;
  }
  if (setup.desktop.WindowOfClassExists(std::u16string(kClientWindowClass))) {
    // Another window of the client is still offered, always without graphics.
    if (questions.Ask(nullptr, kClientRunningTitle, kClientRunningQuestion, 0) == kAnswerYes) {
      const std::u16string workingFolder = CurrentFolder();
      setup.desktop.StartProgram(ClientProgramFrom(workingFolder), ClientArguments(true),
                                 ClientFolderFrom(workingFolder));
    }
    return false;
  }
  return true;
}

// The launcher program brings the updater itself up to date; this one ends unseen.
void HandOver(const UpdaterSetup& setup) {
  const std::u16string workingFolder = CurrentFolder();
  const std::u16string launcher = LauncherProgramFrom(workingFolder);
  if (setup.desktop.StartProgram(launcher, u"", LauncherFolderFrom(workingFolder))) return;
  Log::Error(u"Can't start the launcher program: %s", launcher);
  setup.desktop.ShowSystemMessage(std::u16string(kLauncherNotStarted) + launcher, std::u16string(kErrorCaption));
}

}  // namespace

int RunUpdater(const UpdaterSetup& setup) {
  MessageBoxTimer& questions = setup.questions();
  if (!MayRun(setup, questions)) return 0;

  Log::Open(std::u16string(kLogFileName));
  MainForm form(setup.backend, questions, setup.desktop, setup.programFolder, setup.server, setup.mainSkinPath);
  const bool noGraphics = form.ReadGraphicsSwitch();
  form.ShowGraphicsSwitch(noGraphics);
  form.WriteGraphicsSwitch(noGraphics);

  const int32_t localVersion = ReadPatcherVersion(form.archiveSet().patcherVersionPath);
  const int32_t serverVersion = FetchServerPatcherVersion(*form.archiveSet().serverClient);
  if (localVersion != serverVersion) {
    HandOver(setup);
    return 0;
  }
  // Without its skin the window cannot appear, and a program without a window would never end.
  if (!form.loaded()) {
    setup.desktop.ShowSystemMessage(std::u16string(kSkinNotLoaded) + platform::Utf16FromUtf8(setup.mainSkinPath),
                                    std::u16string(kErrorCaption));
    return 0;
  }
  form.Show();
  return setup.desktop.RunMessageLoop();
}
