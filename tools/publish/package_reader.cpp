#include "package_reader.h"

#include <cstring>
#include <system_error>

#include "byte_order.h"
#include "net/update_package_format.h"

namespace fs = std::filesystem;

bool PackageReader::ReadAt(uint64_t offset, void* buffer, std::size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  return static_cast<bool>(in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size)));
}

bool PackageReader::Open(const fs::path& path, PackageIndex* index, std::string* why) {
  std::error_code error;
  size_ = fs::file_size(path, error);
  if (error) {
    *why = error.message();
    return false;
  }
  in_.open(path, std::ios::binary);
  uint8_t header[kPackageHeaderSize];
  if (!in_ || !ReadAt(0, header, sizeof header)) {
    *why = "shorter than its 12-byte header";
    return false;
  }
  index->minimumVersion = static_cast<int32_t>(LoadLeU32(header));
  index->targetVersion = static_cast<int32_t>(LoadLeU32(header + 4));
  const uint64_t indexOffset = LoadLeU32(header + 8) ^ package_masks::kIndexOffset;
  uint8_t countBytes[4];
  if (!ReadAt(indexOffset, countBytes, 4)) {
    *why = "index offset " + std::to_string(indexOffset) + " is past the end";
    return false;
  }
  const uint32_t count = LoadLeU32(countBytes) ^ package_masks::kCount;
  const uint64_t indexBytes = size_ - indexOffset - 4;
  if (count > indexBytes / kPackageRecordFixedSize) {
    *why = "record count " + std::to_string(count) + " does not fit in the index";
    return false;
  }
  // Records are at most 548 bytes: read no more than the count can use.
  const uint64_t longest = uint64_t{count} * (kPackageRecordFixedSize + 2 * kMaxNameUnits);
  std::vector<uint8_t> bytes(static_cast<std::size_t>(indexBytes < longest ? indexBytes : longest));
  if (!bytes.empty() && !ReadAt(indexOffset + 4, bytes.data(), bytes.size())) {
    *why = "unreadable index";
    return false;
  }
  index->records.clear();
  index->records.reserve(count);
  std::size_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const std::string where = "record " + std::to_string(i) + ": ";
    if (bytes.size() - at < kPackageRecordFixedSize) {
      *why = where + "runs past the end";
      return false;
    }
    const auto length = static_cast<int16_t>(LoadLeU16(bytes.data() + at));
    if (length < 0 || static_cast<std::size_t>(length) > kMaxNameUnits) {
      *why = where + "name length " + std::to_string(length) + " outside 0 to 259";
      return false;
    }
    const std::size_t nameBytes = 2 * static_cast<std::size_t>(length);
    if (bytes.size() - at < kPackageRecordFixedSize + nameBytes) {
      *why = where + "runs past the end";
      return false;
    }
    at += 2;
    PackageRecord record;
    record.entry.name.resize(static_cast<std::size_t>(length));
    for (std::size_t unit = 0; unit < record.entry.name.size(); ++unit)
      record.entry.name[unit] = static_cast<char16_t>(LoadLeU16(bytes.data() + at + 2 * unit));
    at += nameBytes;
    std::memcpy(record.entry.info.digest.data(), bytes.data() + at, 16);
    record.entry.info.size = LoadLeU32(bytes.data() + at + 16) ^ package_masks::kSize;
    record.entry.info.storedSize = LoadLeU32(bytes.data() + at + 20) ^ package_masks::kStoredSize;
    record.dataOffset = LoadLeU32(bytes.data() + at + 24) ^ package_masks::kDataOffset;
    at += 28;
    if (record.entry.info.size != kDeletedSize &&
        (record.dataOffset > size_ || record.entry.info.storedSize > size_ - record.dataOffset)) {
      *why = where + "stored bytes lie past the end";
      return false;
    }
    index->records.push_back(std::move(record));
  }
  return true;
}

bool PackageReader::ReadStored(const PackageRecord& record, std::vector<uint8_t>* stored, std::string* why) {
  stored->resize(record.entry.info.storedSize);
  if (stored->empty() || ReadAt(record.dataOffset, stored->data(), stored->size())) return true;
  *why = "unreadable stored bytes";
  return false;
}
