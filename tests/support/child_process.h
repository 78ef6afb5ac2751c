#pragma once
// Child processes of a test: the real built programs, stand-ins and writers. Every wait on
// one has a deadline, and a child still running when its owner goes is killed and reaped,
// so that no test hangs on a child or leaves one behind.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Where a child's standard streams go; an empty path is the null device.
struct ChildStreams {
  std::filesystem::path input{};
  std::filesystem::path output{};
  std::filesystem::path error{};
  // POSIX: standard output into a pipe that ReadLine reads, instead of `output`.
  bool outputToPipe = false;
  // POSIX: all three streams on this terminal device instead (opened for reading and writing).
  std::filesystem::path terminal{};
};

// How a child ended.
struct ChildExit {
  int exitCode = -1;  // -1 when it ended by a signal
  int signal = 0;     // POSIX: the signal that ended it, 0 when it exited
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Arguments are UTF-8. False when the program could not be started.
  bool Start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
             const ChildStreams& streams = {});
  bool running() const;

  // Waits at most `limit` for the child to end; nothing when it still runs.
  std::optional<ChildExit> Wait(std::chrono::milliseconds limit);
  // Ends the child at once and reaps it; nothing happens when it has ended already.
  void Kill();

#ifndef _WIN32
  void Signal(int signal) const;
  // Waits at most `limit` for the child to stop (SIGSTOP); false when it did not.
  bool WaitStopped(std::chrono::milliseconds limit);
  // The next line the child wrote to its output pipe, without its "\n"; nothing when
  // none came within `limit` or the child closed the pipe first.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
#endif

 private:
#ifdef _WIN32
  void* process_ = nullptr;
#else
  int pid_ = -1;
  int pipe_ = -1;
  std::string pending_;  // read from the pipe, not yet a whole line
  std::optional<ChildExit> ended_;
#endif
};

// What RunChild gives back.
struct ChildResult {
  bool started = false;
  int exitCode = -1;  // -1 also when the child ended by a signal or was stopped
  std::string out;
  std::string err;
};

// No child of RunChild runs longer than this: one that does is stopped, and its output says so.
inline constexpr std::chrono::seconds kChildDeadline{300};

// Runs a program to its end and collects what it printed, through two files in
// scratchFolder (which must exist), so that a chatty child never blocks on a full pipe.
ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const std::filesystem::path& scratchFolder);

}  // namespace testsupport
