#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tools/child_process.h"

extern char** environ;

ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const std::filesystem::path& scratchFolder) {
  ChildResult result;
  const std::filesystem::path outFile = scratchFolder / "child.out";
  const std::filesystem::path errFile = scratchFolder / "child.err";
  std::vector<std::string> argv{program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  result.started = true;
  int status = 0;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kChildDeadlineSeconds);
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (ended && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadWholeFile(outFile);
  result.err = ReadWholeFile(errFile);
  if (!ended) result.err += "\n(stopped: still running after " + std::to_string(kChildDeadlineSeconds) + " s)\n";
  return result;
}
