#pragma once
// Writes an update package from the stored files of the server tree.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/file_list.h"

// records: the changes from minimumVersion to targetVersion; the stored bytes of each
// file come from storedFiles (the tree's "files" folder), which must hold the target
// release. Written under a temporary name and renamed into place.
bool WritePackage(const std::filesystem::path& path, int32_t minimumVersion, int32_t targetVersion,
                  const std::vector<ListEntry>& records, const std::filesystem::path& storedFiles,
                  uint64_t* packageBytes, std::string* why);

// The size WritePackage gives a package of these records (stored sizes as listed).
uint64_t PackageSize(const std::vector<ListEntry>& records);
