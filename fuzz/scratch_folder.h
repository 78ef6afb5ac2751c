#pragma once
// A folder of this process's own for targets that must go through real files. It lives in
// /dev/shm when that exists: a target writes and reopens files for every input, and
// memory keeps that fast without wearing a disk. Removed with everything in it at exit.

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code error;
    std::string parent = std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : "";
    if (parent.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      parent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    std::string pattern = parent + "/solmere-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
