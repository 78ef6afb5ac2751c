#pragma once
// Reading update packages (the layout is in update_package_format.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/update_package_format.h"
#include "platform/file.h"
#include "platform/md5.h"

struct PackageHeader {
  int32_t minimumVersion = 0;
  int32_t targetVersion = 0;
  uint32_t indexOffset = 0;  // unmasked
};

struct PackageRecord {
  std::u16string name;
  platform::Md5Digest digest{};
  uint32_t size = 0;  // 0xFFFFFFFF: delete
  uint32_t storedSize = 0;
  uint32_t dataOffset = 0;
};

// Where the package's bytes come from: a file on disk, or memory for the fuzz target.
// publish reads through a source of its own over a shared-read stream.
class PackageSource {
 public:
  virtual ~PackageSource() = default;
  virtual uint64_t size() const = 0;
  // Exactly count bytes at offset; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, void* out, std::size_t count) = 0;
};

class FilePackageSource final : public PackageSource {
 public:
  // The file stays the caller's; its size is taken once here.
  explicit FilePackageSource(platform::File& file);
  uint64_t size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, std::size_t count) override;

 private:
  platform::File& file_;
  uint64_t size_ = 0;
};

class MemoryPackageSource final : public PackageSource {
 public:
  MemoryPackageSource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, std::size_t count) override;

 private:
  const uint8_t* data_;
  std::size_t size_;
};

// False when the file is shorter than the header.
bool ReadPackageHeader(PackageSource& source, PackageHeader* header);

// What ReadPackageIndex found wrong, for a tool that reports it.
struct PackageIndexFault {
  enum class Kind {
    kNone,
    kIndexPastEnd,   // value: the index offset
    kCountTooLarge,  // value: the record count
    kRecordPastEnd,  // the record or its name reaches past the end
    kNameLength,     // value: the name length
    kStoredPastEnd,  // the record's stored bytes reach past the end
    kUnreadable,     // the source failed inside its size
  };
  Kind kind = Kind::kNone;
  uint32_t record = 0;
  int64_t value = 0;
};

// Reads the whole index. False for a damaged package: the index or a record's bytes
// beyond the end, a count that the index cannot hold, a name length outside 0 to 259,
// or a short read; *fault (when given) says which. Names are not judged here.
bool ReadPackageIndex(PackageSource& source, const PackageHeader& header, std::vector<PackageRecord>* records,
                      PackageIndexFault* fault = nullptr);
