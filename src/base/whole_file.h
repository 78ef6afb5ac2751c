#pragma once
// Small files of the updater's own (a journal, a list, a record), read and written whole.

#include <cstdint>
#include <string>
#include <string_view>

// The file's bytes; false when it cannot be read, is empty or holds more than `maxBytes`.
bool ReadSmallFile(const std::u16string& path, uint64_t maxBytes, std::string* bytes);

// Writes `bytes` into a file of their own beside `path` and renames it over `path` once they
// are on the disk: the file holds the old bytes or the new ones, never a part. Its folder is
// made when missing.
bool WriteFileWhole(const std::u16string& path, std::string_view bytes);
