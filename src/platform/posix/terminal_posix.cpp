#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/terminal.h"

namespace platform {
namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnInterrupt(int) {
  interrupted = true;
}

}  // namespace

bool StandardInputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

bool StandardOutputIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

void PrepareTerminalOutput() {}

void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read waiting for an answer returns, so the question ends.
  ::sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() {
  return interrupted.load();
}

bool WaitForInput(int milliseconds) {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  return ::poll(&input, 1, milliseconds) > 0;
}

}  // namespace platform
