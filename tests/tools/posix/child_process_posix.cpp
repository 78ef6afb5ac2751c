#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadWholeFile(outFile);
  result.err = ReadWholeFile(errFile);
  return result;
}
