#pragma once
// Reads an update package's header and index, bounding every count, length and offset by
// the file's size: verify must report a damaged package, never trust it.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "file_list.h"

struct PackageRecord {
  ListEntry entry;  // name, digest, size and stored size, unmasked
  uint32_t dataOffset = 0;
};

struct PackageIndex {
  int32_t minimumVersion = 0;
  int32_t targetVersion = 0;
  std::vector<PackageRecord> records;
};

class PackageReader {
 public:
  bool Open(const std::filesystem::path& path, PackageIndex* index, std::string* why);
  // A record's stored bytes (bounds checked by Open).
  bool ReadStored(const PackageRecord& record, std::vector<uint8_t>* stored, std::string* why);

 private:
  bool ReadAt(uint64_t offset, void* buffer, std::size_t size);

  std::ifstream in_;
  uint64_t size_ = 0;
};
