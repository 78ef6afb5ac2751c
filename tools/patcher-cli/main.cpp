// patcher-cli: the updater's workflow on a console, for Linux and Windows.

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "app/log.h"
#include "archive/client_archive_set.h"
#include "arguments.h"
#include "console_window.h"
#include "exit_codes.h"
#include "net/update_server_address.h"
#include "platform/console.h"
#include "platform/terminal.h"
#include "platform/text.h"
#include "workflow/progress_thread.h"
#include "workflow/string_table.h"
#include "workflow/update_workflow.h"

namespace {

// Waits for the workflow's workers. Ctrl+C cancels a running pass as the close button
// does, and otherwise ends the run at once; true when it came.
bool WaitForWorkflow(UpdateWorkflow& workflow, ClientArchiveSet& archives, ConsoleWindow& window) {
  while (workflow.Running()) {
    if (platform::InterruptRequested()) {
      window.Note("Ctrl+C");
      if (archives.busy) workflow.Cancel();
      workflow.Stop();
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  workflow.WaitForWorkers();
  return platform::InterruptRequested();
}

int Run(const CliOptions& options, UpdateWorkflow& workflow, ClientArchiveSet& archives, ConsoleWindow& window) {
  switch (options.command) {
    case CliCommand::kUpdate:
      workflow.StartStartup();
      break;
    case CliCommand::kCheck:
      workflow.ShowPreparing();
      // A folder whose archives could not all be opened can still be checked.
      workflow.LoadArchives();
      if (!workflow.ConfirmCheck()) return platform::InterruptRequested() ? kExitCancelled : kExitDeclined;
      break;
    case CliCommand::kApply:
      workflow.ShowPreparing();
      if (!workflow.LoadArchives()) return kExitDamagedFolder;
      workflow.StartManualUpdate(options.packagePath);
      break;
  }
  if (WaitForWorkflow(workflow, archives, window)) return kExitCancelled;
  return ExitCodeOf(workflow.state());
}

int RunProgram(const CliOptions& options) {
  const bool outputIsTerminal = platform::StandardOutputIsTerminal();
  if (outputIsTerminal) platform::PrepareTerminalOutput();
  platform::CatchInterrupt();

  Log::Open(u"log.txt");
  Log::Write(u"");
  Log::InfoText(Text(TextId::kPatcherStarted));
  // The updater lives in a folder of the client root; any name does.
  const std::u16string programFolder = options.root.empty() ? platform::ProgramFolder() : options.root + u"/patcher";
  const std::u16string host = options.serverHost.empty() ? std::u16string(kUpdateServerHost) : options.serverHost;
  const uint16_t port = options.serverHost.empty() ? kUpdateServerPort : options.port;

  int code = kExitCancelled;
  {
    ClientArchiveSet archives(programFolder, host, port);
    ConsoleWindow window(outputIsTerminal, {platform::StandardInputIsTerminal(), options.yes});
    {
      // Destroyed in reverse order: the progress thread and the workers end before the
      // window and the archive set they use.
      UpdateWorkflow workflow(archives, window);
      ProgressThread progress(archives, window);
      code = Run(options, workflow, archives, window);
      workflow.Stop();
      progress.Stop();
    }
    window.Finish();
  }
  Log::InfoText(Text(TextId::kPatcherClosed));
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions options;
  std::string error;
  if (!ParseArguments(platform::CommandLineArguments(argc, argv), &options, &error)) {
    std::fprintf(stderr, "patcher-cli: %s\n\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitReady;
  }
  // Nothing thrown ends the program unreported; the workers and the progress thread are
  // stopped on the way out by their owners.
  try {
    return RunProgram(options);
  } catch (const std::exception& failure) {
    Log::Error(u"patcher-cli failed: %s", platform::Utf16FromUtf8(failure.what()));
    std::fprintf(stderr, "patcher-cli: %s\n", failure.what());
  } catch (...) {
    Log::Error(u"patcher-cli failed");
    std::fprintf(stderr, "patcher-cli: failed\n");
  }
  return kExitServerError;
}
