#pragma once
// Runs a program to its end and collects what it printed: the end-to-end tests drive the
// real built tools this way.

#include <filesystem>
#include <string>
#include <vector>

struct ChildResult {
  bool started = false;
  int exitCode = -1;  // -1 also when the child ended by a signal or was stopped
  std::string out;
  std::string err;
};

// No child of a test runs longer than this: one that does is stopped, and its output says so.
inline constexpr int kChildDeadlineSeconds = 300;

// Arguments are UTF-8. Output is collected through two files in scratchFolder (which must
// exist), so a chatty child can never block on a full pipe.
ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const std::filesystem::path& scratchFolder);

// The file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& file);
