#pragma once
// Reads an update package's header and index the way the updater does, bounding every
// count, length and offset by the file's size, and says why a package is refused: verify
// must report a damaged package, never trust it.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/update_package.h"

class PackageReader final : public PackageSource {
 public:
  bool Open(const std::filesystem::path& path, PackageHeader* header, std::vector<PackageRecord>* records,
            std::string* why);
  // A record's stored bytes (bounds checked by Open).
  bool ReadStored(const PackageRecord& record, std::vector<uint8_t>* stored, std::string* why);

  uint64_t size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, std::size_t count) override;

 private:
  // A plain stream: a web server may serve the package while verify reads it.
  std::ifstream in_;
  uint64_t size_ = 0;
};
