#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "support/child_process.h"

extern char** environ;

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPoll{2};
// SIGKILL ends any process; this is only how long its end may take to be seen.
constexpr std::chrono::seconds kKillLimit{10};

ChildExit ExitOf(int status) {
  ChildExit exit;
  if (WIFEXITED(status)) exit.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) exit.signal = WTERMSIG(status);
  return exit;
}

// Standard stream `fd` opened on `path`, or on the null device.
void AddOpen(posix_spawn_file_actions_t* actions, int fd, const std::filesystem::path& path, int flags) {
  posix_spawn_file_actions_addopen(actions, fd, path.empty() ? "/dev/null" : path.c_str(), flags, 0644);
}

}  // namespace

bool ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const ChildStreams& streams) {
  Kill();
  std::vector<std::string> argv{program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  int pipeEnds[2] = {-1, -1};
  if (streams.outputToPipe && ::pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!streams.terminal.empty()) {
    for (int fd = 0; fd < 3; ++fd) AddOpen(&actions, fd, streams.terminal, O_RDWR);
  } else {
    AddOpen(&actions, 0, streams.input, O_RDONLY);
    if (streams.outputToPipe)
      posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    else
      AddOpen(&actions, 1, streams.output, O_WRONLY | O_CREAT | O_TRUNC);
    AddOpen(&actions, 2, streams.error, O_WRONLY | O_CREAT | O_TRUNC);
  }
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
  if (spawned != 0) {
    if (pipeEnds[0] >= 0) ::close(pipeEnds[0]);
    return false;
  }
  pid_ = pid;
  pipe_ = pipeEnds[0];
  ended_.reset();
  pending_.clear();
  return true;
}

bool ChildProcess::running() const {
  return pid_ > 0 && !ended_;
}

std::optional<ChildExit> ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0 || ended_) return ended_;
  const auto deadline = Clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
    if (reaped == pid_) {
      ended_ = ExitOf(status);
      return ended_;
    }
    // Anything but an interruption (ECHILD above all) means there is nothing left to
    // wait for: asking again would never end.
    if (reaped < 0 && errno != EINTR) {
      ended_ = ChildExit{};
      return ended_;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPoll);
  }
}

void ChildProcess::Kill() {
  if (running()) {
    ::kill(pid_, SIGKILL);
    Wait(kKillLimit);
  }
  if (pipe_ >= 0) ::close(pipe_);
  pipe_ = -1;
}

void ChildProcess::Signal(int signal) const {
  if (running()) ::kill(pid_, signal);
}

bool ChildProcess::WaitStopped(std::chrono::milliseconds limit) {
  if (!running()) return false;
  const auto deadline = Clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, WNOHANG | WUNTRACED);
    if (reaped == pid_) {
      if (WIFSTOPPED(status)) return true;
      ended_ = ExitOf(status);
      return false;
    }
    if (reaped < 0 && errno != EINTR) {
      ended_ = ChildExit{};
      return false;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds limit) {
  if (pipe_ < 0) return std::nullopt;
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd ready{pipe_, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return std::nullopt;
    char buffer[256];
    const ssize_t got = ::read(pipe_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace testsupport
