#pragma once
// Whole files on the local disk read into memory, for the tools.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// How a read failed, for a tool that words the failure its own way.
enum class ReadFileFailure {
  kNone,
  kNoSize,      // the file's size could not be taken: missing, or no file
  kTooLarge,    // larger than the caller allows
  kUnreadable,  // unreadable, or it grew or shrank while read
};

// Reads the whole file, of at most maxBytes. False with the reason (and, when asked, the
// kind of failure) when it is missing, larger, unreadable or changing while read.
bool ReadFileBytes(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>* bytes, std::string* why,
                   ReadFileFailure* failure = nullptr);
