#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "program_run.h"

extern char** environ;

bool CanRunPrograms() {
  return true;
}

bool RunProgram(const std::string& program, const std::vector<std::string>& arguments, int* exitCode,
                std::string* why) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // What publish printed so far comes before the program's own lines.
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t child = 0;
  const int started = posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (started != 0) {
    *why = "cannot run " + program + ": " + std::strerror(started);
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      *why = "lost " + program + ": " + std::strerror(errno);
      return false;
    }
  }
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}
