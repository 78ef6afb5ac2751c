#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include "platform/interrupt_state.h"
#include "platform/terminal.h"

namespace platform {
namespace {

// The signal handler only writes a byte: into `wake`, which a thread of ours reads to raise
// the request, and into `mark`, which nobody reads, so that it stays readable for every
// poll that waits for input or for the request.
int wake[2] = {-1, -1};
int mark[2] = {-1, -1};

void OnInterrupt(int) {
  const char byte = 1;
  const int saved = errno;
  [[maybe_unused]] ssize_t written = ::write(mark[1], &byte, 1);
  written = ::write(wake[1], &byte, 1);
  errno = saved;
}

void RaiseOnWake() {
  char byte = 0;
  for (;;) {
    const ssize_t got = ::read(wake[0], &byte, 1);
    if (got == 1) break;
    if (got < 0 && errno == EINTR) continue;
    return;
  }
  InterruptState::Instance().Raise();
}

bool MakePipe(int fds[2]) {
  if (::pipe(fds) != 0) return false;
  for (int i = 0; i < 2; ++i) ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
  // A handler must never block on a full pipe.
  ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  return true;
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
  static const bool caught = [] {
    if (!MakePipe(wake) || !MakePipe(mark)) return false;
    // Lives to the end of the process, blocked in its read until the request comes.
    std::thread(RaiseOnWake).detach();
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting for an answer returns, so the question ends.
    ::sigaction(SIGINT, &action, nullptr);
    return true;
  }();
  (void)caught;
}

bool InterruptRequested() {
  // The mark is set by the signal itself, before our thread has raised the request.
  pollfd marked{mark[0], POLLIN, 0};
  return InterruptState::Instance().raised() || (mark[0] >= 0 && ::poll(&marked, 1, 0) > 0);
}

bool WaitForInterrupt(int milliseconds) {
  return InterruptState::Instance().WaitFor(std::chrono::milliseconds(milliseconds));
}

void SetInterruptHandler(std::function<void()> handler) {
  InterruptState::Instance().SetHandler(std::move(handler));
}

bool WaitForInput(int milliseconds) {
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {mark[0], POLLIN, 0}};
  const nfds_t count = mark[0] >= 0 ? 2 : 1;
  if (::poll(fds, count, milliseconds) <= 0) return false;
  if (count == 2 && (fds[1].revents & POLLIN) != 0) return false;
  return (fds[0].revents & POLLIN) != 0;
}

}  // namespace platform
