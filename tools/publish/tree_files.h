#pragma once
// Files of the server tree: where a resource lives on disk, and whole-file reads and
// writes. Every write goes to a temporary name first and is renamed into place, so a
// web server never hands out half a file.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Whole-file reads are the tools' shared ReadFileBytes.
#include "common/read_file.h"

// The file of a server resource named with "\" separators ("files\models\a.ski"). The
// name comes from a client folder or a list: false with the reason when it could leave
// the tree or cannot be a file name on both platforms.
bool ResourcePath(const std::filesystem::path& root, std::u16string_view resource, std::filesystem::path* path,
                  std::string* why);

// Creates the folders, writes path + ".publish-tmp" and renames it over path.
bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size, std::string* why);
inline bool WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                                std::string* why) {
  return WriteFileAtomically(path, bytes.data(), bytes.size(), why);
}

// The path for messages, in the platform's separator throughout.
std::string PathText(const std::filesystem::path& path);
