#include "app/launcher_run.h"

#include <atomic>
#include <memory>
#include <thread>

#include "base/log.h"
#include "base/paths.h"
#include "base/progress_counters.h"
#include "engine/client_layout.h"
#include "engine/server_protocol.h"
#include "engine/updater_lock.h"
#include "platform/desktop.h"
#include "platform/instance_marker.h"
#include "ui/backend.h"
#include "workflow/disk_full_text.h"
#include "workflow/message_box_timer.h"

namespace {

constexpr std::chrono::milliseconds kUpdaterPoll{100};
// The worker wakes the window when it ends; this only bounds a wait whose wake was lost, and
// sets how often the progress bar moves.
constexpr std::chrono::milliseconds kPumpWait{100};

// What the user is told of a failed update, before the question whether to try again.
std::u16string FailureText(const ProgramUpdateResult& result) {
  using Outcome = ProgramUpdateResult::Outcome;
  switch (result.outcome) {
    case Outcome::kFetchFailed:
      return u"Не удалось получить файлы программы обновления с сервера.";
    case Outcome::kNoList:
      return u"Сервер обновлений не предлагает файлов программы обновления.";
    case Outcome::kWriteFailed:
      if (result.diskFull) return u"Не удалось записать файл: " + DiskFullText(*result.diskFull) + u".";
      return u"Не удалось записать файл программы обновления.";
    case Outcome::kSwapFailed:
      return u"Не удалось заменить файлы программы обновления.";
    case Outcome::kUnverified:
      return u"Файлы программы обновления не подписаны издателем.";
    default:
      return u"Сервер обновлений прислал неверные данные.";
  }
}

// The share of the work done: the files fetched, and the part of the running transfer.
double DoneFraction(const ProgressCounters::Figures& figures) {
  if (figures.itemsTotal <= 0) return 0;
  double done = figures.itemsDone;
  if (figures.readsTotal > 0 && figures.itemsDone < figures.itemsTotal)
    done += static_cast<double>(figures.readsDone) / figures.readsTotal;
  return done / figures.itemsTotal;
}

class LauncherRun {
 public:
  LauncherRun(const LauncherSetup& setup, LauncherWindow& window)
      : setup_(setup),
        window_(window),
        layout_(ClientLayout::OfRoot(ParentFolder(setup.programFolder))),
        server_(setup.server, layout_.verifiedReleaseFile()) {}

  // On the worker: true when the updater's files are at the server's version.
  bool Update() {
    window_.ShowDetail(kLauncherWaiting);
    if (!WaitForUpdater()) {
      Log::Error(u"The updater is still running after %d s", static_cast<int32_t>(setup_.updaterWait.count() / 1000));
      if (!Ask(u"Программа обновления всё ещё запущена.")) return false;
      return Update();
    }
    for (;;) {
      window_.ShowDetail(kLauncherChecking);
      window_.ShowProgress(0);
      const OperationContext context(nullptr, progress_);
      ProgramUpdateResult result;
      const int32_t expected = server_.FetchPatcherVersion(context);
      if (expected < 0) {
        result.outcome = ProgramUpdateResult::Outcome::kFetchFailed;
      } else {
        window_.ShowDetail(kLauncherDownloading);
        ProgramUpdate update(server_, layout_.PatcherProgram(), setup_.afterStep);
        result = update.Run(context, expected);
      }
      if (result.succeeded()) {
        Log::Info(u"The updater is at version %d", result.version);
        window_.ShowProgress(1);
        return true;
      }
      Log::Error(u"The update of the updater failed: %s", ProgramUpdateOutcomeText(result.outcome));
      // A server of the original format has nothing to offer: asking again changes nothing.
      if (result.outcome == ProgramUpdateResult::Outcome::kNoList || !Ask(FailureText(result))) return false;
    }
  }

  // On the UI thread, once the worker has ended: the updater, new or old.
  int StartUpdater(bool updated) {
    marker_.reset();
    const ProgramFolders patcher = layout_.PatcherProgram();
    const std::u16string program = JoinedPath(patcher.folder, kUpdaterProgramName);
    if (!updated) {
      window_.ShowDetail(kLauncherStartingOld);
      if (setup_.markOwnUpdateFailed) setup_.markOwnUpdateFailed();
    } else {
      window_.ShowDetail(kLauncherStarting);
    }
    if (setup_.desktop.StartProgram(program, u"", patcher.folder)) {
      Log::Info(u"Started %s", program);
      return 0;
    }
    Log::Error(u"Can't start the updater: %s", program);
    window_.Hide();
    setup_.desktop.ShowSystemMessage(std::u16string(kLauncherUpdaterNotStarted) + program,
                                     std::u16string(kLauncherNotStartedTitle));
    return 1;
  }

  const ProgressCounters& progress() const { return progress_; }

 private:
  // The updater that started this program ends soon after; while it runs it holds the
  // single-instance marker, and this program holds it from then on until it starts the new
  // one, so that no updater starts on files being replaced.
  bool WaitForUpdater() {
    marker_ = std::make_unique<platform::InstanceMarker>();
    const auto deadline = std::chrono::steady_clock::now() + setup_.updaterWait;
    while (!marker_->Acquire(std::u16string(kUpdaterInstanceName))) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(kUpdaterPoll);
    }
    return true;
  }
  bool Ask(const std::u16string& reason) {
    return setup_.questions().Ask(&window_, kLauncherFailedTitle, reason + u"\n" + std::u16string(kLauncherRetry), 0) ==
           kAnswerYes;
  }

  const LauncherSetup& setup_;
  LauncherWindow& window_;
  const ClientLayout layout_;
  ServerProtocol server_;
  ProgressCounters progress_;
  std::unique_ptr<platform::InstanceMarker> marker_;
};

}  // namespace

int RunLauncher(const LauncherSetup& setup) {
  Log::Open(JoinedPath(setup.programFolder, u"log.txt"));
  Log::Write(u"");
  Log::Info(u"Launcher started");
  // Built on the UI thread before the worker may ask.
  setup.questions();
  LauncherWindow window(setup.backend, setup.skinPath);
  if (window.loaded()) {
    window.ShowStatus(kLauncherStatus);
    window.Show();
  } else {
    Log::Error(u"The launcher's window could not be made; it works unseen");
  }
  LauncherRun run(setup, window);
  std::atomic<bool> done{false};
  bool updated = false;
  const Ormel::MessageQueue queue = setup.backend.CurrentQueue();
  std::thread worker([&] {
    updated = run.Update();
    done = true;
    setup.backend.Wake(queue);
  });
  while (!done) {
    // A quit request asks for nothing here: the work ends on its own, whole.
    setup.backend.PumpMessages(kPumpWait);
    if (!done) window.ShowProgress(DoneFraction(run.progress().Read()));
  }
  worker.join();
  const int code = run.StartUpdater(updated);
  Log::Info(u"Launcher closed");
  return code;
}
