// patcher-cli: the updater's workflow on a console, for Linux and Windows.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "arguments.h"
#include "base/log.h"
#include "base/progress_counters.h"
#include "client_root.h"
#include "console_window.h"
#include "engine/client_archive_set.h"
#include "engine/updater_lock.h"
#include "exit_codes.h"
#include "failure_notes.h"
#include "net/update_server_address.h"
#include "package_file.h"
#include "platform/console.h"
#include "platform/terminal.h"
#include "platform/text.h"
#include "run_report.h"
#include "workflow/progress_thread.h"
#include "workflow/string_table.h"
#include "workflow/update_workflow.h"

namespace {

void Error(const std::string& text) {
  std::fprintf(stderr, "patcher-cli: %s\n", text.c_str());
  std::fflush(stderr);
}

const char* CommandName(CliCommand command) {
  switch (command) {
    case CliCommand::kCheck:
      return "check";
    case CliCommand::kApply:
      return "apply";
    case CliCommand::kUpdate:
      break;
  }
  return "update";
}

// Ends a run that never reached the client: the usage line or the reason, and with
// --json the object all the same.
int EndEarly(const CliOptions& options, int code, const std::string& message, bool withUsage) {
  Error(message);
  if (withUsage) std::fputs(kUsageHint, stderr);
  if (options.json) {
    RunReport report;
    report.command = CommandName(options.command);
    report.exitCode = code;
    std::fputs(JsonObject(report).c_str(), stdout);
  }
  return code;
}

// The end of a run: every worker has ended, or Ctrl+C came.
class RunEnd {
 public:
  void Signal(bool interrupt) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      (interrupt ? interrupted_ : finished_) = true;
    }
    changed_.notify_all();
  }
  // True when Ctrl+C came first.
  bool Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return interrupted_ || finished_; });
    return interrupted_ && !finished_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool interrupted_ = false;
  bool finished_ = false;
};

// Waits for the workflow's workers. Ctrl+C cancels a running pass as the close button does,
// and otherwise ends the run at once; true when it came.
bool WaitForWorkflow(UpdateWorkflow& workflow, ConsoleWindow& window) {
  RunEnd end;
  platform::SetInterruptHandler([&end] { end.Signal(true); });
  std::thread joiner([&] {
    workflow.WaitForWorkers();
    end.Signal(false);
  });
  if (end.Wait()) {
    window.Note("Ctrl+C");
    workflow.CancelPass();
    workflow.Stop();
  }
  joiner.join();
  platform::SetInterruptHandler(nullptr);
  return platform::InterruptRequested();
}

int Run(const CliOptions& options, UpdateWorkflow& workflow, ConsoleWindow& window) {
  switch (options.command) {
    case CliCommand::kUpdate:
      workflow.StartStartup();
      break;
    case CliCommand::kCheck:
      workflow.ShowPreparing();
      // A folder whose archives could not all be opened can still be checked.
      workflow.LoadArchives();
      window.SetStepFormat(u"");
      if (!workflow.ConfirmCheck()) return platform::InterruptRequested() ? kExitCancelled : kExitNotUpdated;
      break;
    case CliCommand::kApply:
      workflow.StartOfflineApply(options.packagePath);
      break;
  }
  if (WaitForWorkflow(workflow, window)) return kExitCancelled;
  // A server's fault is a server error wherever it came from; "not updated" is the user's choice.
  if (workflow.state() == WorkflowState::kUpdateNeeded && workflow.stoppedByServer()) return kExitServerError;
  return ExitCodeOf(workflow.state());
}

int RunProgram(const CliOptions& options) {
  std::string error;
  std::u16string root;
  if (!FindClientRoot(options.root, &root, &error)) return EndEarly(options, kExitUsage, error, false);
  if (options.command == CliCommand::kApply && !CheckPackageFile(options.packagePath, &error))
    return EndEarly(options, kExitUsage, error, false);

  // With --json the standard output carries the JSON object alone.
  std::FILE* const out = options.json ? stderr : stdout;
  const bool outIsTerminal = options.json ? platform::StandardErrorIsTerminal() : platform::StandardOutputIsTerminal();
  if (outIsTerminal) platform::PrepareTerminalOutput();
  platform::CatchInterrupt();

  const ClientLayout layout = ClientLayout::OfRoot(root);
  // Before the log: a second updater must not empty the first one's log.
  UpdaterLock lock;
  switch (lock.Acquire(layout)) {
    case UpdaterLock::Result::kAcquired:
      break;
    case UpdaterLock::Result::kOtherUpdaterRunning:
      return EndEarly(options, kExitBusy,
                      "Программа уже запущена: работает другая программа обновления Solmere Classic", false);
    case UpdaterLock::Result::kFolderInUse:
      return EndEarly(options, kExitBusy,
                      "папку клиента " + DisplayPath(root) + " уже использует другая программа обновления (занят " +
                          DisplayPath(layout.lockFile()) + ")",
                      false);
  }

  const auto started = std::chrono::steady_clock::now();
  // The console's log is the working folder's, as for the window.
  Log::Open(u"log.txt");
  Log::Write(u"");
  Log::InfoText(Text(TextId::kPatcherStarted));
  const std::vector<UpdateServerAddress> servers = options.servers.empty() ? BuiltInUpdateServers() : options.servers;

  RunReport report;
  report.command = CommandName(options.command);
  {
    ProgressCounters progress;
    ClientArchiveSet archives(layout, servers);
    archives.server().mirrors().SetRateLimit(options.limitRate);
    if (options.connections > 0) archives.SetConnections(options.connections);
    if (!options.releaseKeys.empty()) {
      std::string keys;
      for (const std::string& key : options.releaseKeys) keys += (keys.empty() ? "" : ",") + key;
      archives.server().SetReleaseKeys(ReleaseKeysOfText(keys).value_or(std::vector<PublicKey>{}));
    }
    ConsoleWindow window(progress, {out, outIsTerminal, {platform::StandardInputIsTerminal(), options.yes}});
    const FailureNotes notes(servers.front());
    window.SetCauseHook([&notes](const FailureCause& cause) {
      for (const std::string& line : notes.Explain(cause)) Error(line);
    });
    {
      // Destroyed in reverse order: the progress thread and the workers end before the
      // window and the archive set they use.
      UpdateWorkflow workflow(archives, window, progress);
      ProgressThread progressThread(progress, window);
      report.exitCode = Run(options, workflow, window);
      workflow.Stop();
      progressThread.Stop();
      const int32_t serverVersion = workflow.serverVersion();
      if (options.command != CliCommand::kApply && serverVersion >= 0) report.serverVersion = serverVersion;
      report.clientVersionBefore = window.firstClientVersion();
    }
    window.Finish();
    // Reading the version of a folder that is not all there would write a version file.
    if (archives.archives().allOpen()) {
      report.clientVersion = archives.ReadLocalVersion();
      if (report.exitCode == kExitServerError && report.serverVersion && *report.serverVersion < *report.clientVersion)
        Error(notes.ServerBehind(*report.serverVersion, *report.clientVersion));
    }
    report.filesChecked = window.filesChecked();
    report.filesUpdated = archives.filesStored();
    report.bytesReceived = progress.Read().bytesReceived;
  }
  Log::InfoText(Text(TextId::kPatcherClosed));
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fputs(SummaryLine(report).c_str(), stderr);
  if (options.json) std::fputs(JsonObject(report).c_str(), stdout);
  std::fflush(stdout);
  return report.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // Messages and JSON read the same on every platform (no "\r\n" on Windows).
  platform::SetBinaryStandardStreams();
  CliOptions options;
  std::string error;
  if (!ParseArguments(platform::CommandLineArguments(argc, argv), &options, &error))
    return EndEarly(options, kExitUsage, error, true);
  if (options.help) {
    std::fputs(kHelpText, stdout);
    return kExitReady;
  }
  if (options.version) {
    std::fputs(VersionText().c_str(), stdout);
    return kExitReady;
  }
  // Nothing thrown ends the program unreported; the workers and the progress thread are
  // stopped on the way out by their owners.
  try {
    return RunProgram(options);
  } catch (const std::exception& failure) {
    Log::Error(u"patcher-cli failed: %s", platform::Utf16FromUtf8(failure.what()));
    // The system's words are English: set apart from the Russian.
    Error(std::string("сбой программы (") + failure.what() + ")");
  } catch (...) {
    Log::Error(u"patcher-cli failed");
    Error("сбой программы");
  }
  return kExitServerError;
}
