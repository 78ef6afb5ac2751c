#include "app/updater_startup.h"

#include "app/game_launch.h"
#include "app/updater_session.h"
#include "base/log.h"
#include "base/paths.h"
#include "engine/client_layout.h"
#include "engine/program_update.h"
#include "engine/updater_lock.h"
#include "platform/desktop.h"
#include "platform/text.h"
#include "workflow/message_box_timer.h"

namespace {

// Another updater window would only wait for this one; a running client must not see its
// archives change. Either way nothing is updated: true when this run may go on.
bool MayRun(const UpdaterSetup& setup, MessageBoxTimer& questions, const ClientLayout& working) {
  if (!setup.desktop.ClaimSingleInstance(std::u16string(kUpdaterInstanceName))) {
    setup.desktop.ShowSystemMessage(std::u16string(kAlreadyRunning), std::u16string(kErrorCaption));
    return false;
  }
  if (setup.desktop.WindowOfClassExists(std::u16string(kClientWindowClass))) {
    // Another window of the client is still offered, always without graphics.
    if (questions.Ask(nullptr, kClientRunningTitle, kClientRunningQuestion, 0) == kAnswerYes)
      StartGameClient(setup.desktop, working, true);
    return false;
  }
  return true;
}

// The launcher program brings the updater itself up to date; this one ends unseen. Its own
// files are brought to what the server lists first: it is not running now.
void HandOver(const UpdaterSetup& setup, UpdaterSession& session, const ClientLayout& working, bool serverReached) {
  if (serverReached) {
    ProgramUpdate launcherUpdate(session.archives().server(), working.LauncherProgram());
    const ProgramUpdateResult result = launcherUpdate.Run(OperationContext());
    if (!result.succeeded() && result.outcome != ProgramUpdateResult::Outcome::kNoList)
      Log::Error(u"The launcher program was not updated: %s", ProgramUpdateOutcomeText(result.outcome));
  }
  const std::u16string& launcher = working.launcherProgram();
  if (setup.desktop.StartProgram(launcher, u"", working.launcherFolder())) return;
  Log::Error(u"Can't start the launcher program: %s", launcher);
  setup.desktop.ShowSystemMessage(std::u16string(kLauncherNotStarted) + launcher, std::u16string(kErrorCaption));
}

}  // namespace

int RunUpdater(const UpdaterSetup& setup) {
  MessageBoxTimer& questions = setup.questions();
  // The game client, the launcher program, the switch and the log go from the working folder.
  const ClientLayout working(CurrentFolder());
  if (!MayRun(setup, questions, working)) return 0;

  Log::Open(working.logFile());
  UpdaterSession session(setup.backend, questions, setup.desktop,
                         {setup.programFolder, working.updaterFolder(), setup.servers, setup.mainSkinPath});
  session.ShowStoredGraphicsSwitch();

  // A swap of this updater's files cut short: finished now, and the new updater started.
  ProgramUpdate ownUpdate(session.archives().server(), session.archives().layout().PatcherProgram());
  const bool swapFinished = ownUpdate.Recover() == ProgramSwap::Recovery::kFinished;
  const int32_t localVersion = session.LocalPatcherVersion();
  const int32_t serverVersion = session.ServerPatcherVersion();
  if (localVersion != serverVersion || swapFinished) {
    if (!setup.ownUpdateFailed) {
      HandOver(setup, session, working, serverVersion >= 0);
      return 0;
    }
    Log::Error(u"The updater's own update failed; the client's update goes on with updater version %d", localVersion);
    setup.desktop.ShowSystemMessage(std::u16string(kOwnUpdateFailed), std::u16string(kErrorCaption));
  }
  // Without its skin the window cannot appear, and a program without a window would never end.
  if (!session.form().loaded()) {
    setup.desktop.ShowSystemMessage(std::u16string(kSkinNotLoaded) + platform::Utf16FromUtf8(setup.mainSkinPath),
                                    std::u16string(kErrorCaption));
    return 0;
  }
  session.form().Show();
  return setup.desktop.RunMessageLoop();
}
