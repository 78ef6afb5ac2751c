#include "net/update_package.h"

#include <cstring>

namespace {

uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

FilePackageSource::FilePackageSource(platform::File& file) : file_(file) {
  if (!file_.Seek(0, platform::SeekOrigin::kEnd) || !file_.Tell(&size_)) size_ = 0;
}

bool FilePackageSource::ReadAt(uint64_t offset, void* out, std::size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  if (count == 0) return true;
  return file_.Seek(static_cast<int64_t>(offset), platform::SeekOrigin::kStart) && file_.Read(out, count);
}

bool MemoryPackageSource::ReadAt(uint64_t offset, void* out, std::size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  if (count > 0) std::memcpy(out, data_ + offset, count);
  return true;
}

bool ReadPackageHeader(PackageSource& source, PackageHeader* header) {
  uint8_t raw[kPackageHeaderSize];
  if (!source.ReadAt(0, raw, sizeof raw)) return false;
  header->minimumVersion = static_cast<int32_t>(LoadU32(raw));
  header->targetVersion = static_cast<int32_t>(LoadU32(raw + 4));
  header->indexOffset = LoadU32(raw + 8) ^ package_masks::kIndexOffset;
  return true;
}

bool ReadPackageIndex(PackageSource& source, const PackageHeader& header, std::vector<PackageRecord>* records) {
  records->clear();
  const uint64_t end = source.size();
  uint64_t at = header.indexOffset;
  uint8_t raw[4];
  if (!source.ReadAt(at, raw, 4)) return false;
  at += 4;
  const uint32_t count = LoadU32(raw) ^ package_masks::kCount;
  // Every record takes at least its fixed part: a count the rest of the file cannot
  // hold is damage, not a reason to allocate.
  if (count > (end - at) / kPackageRecordFixedSize) return false;
  records->reserve(count);
  uint8_t fixed[kPackageRecordFixedSize - 2];
  uint8_t nameBytes[2 * kMaxPackageNameLength];
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t lengthBytes[2];
    if (!source.ReadAt(at, lengthBytes, 2)) return false;
    at += 2;
    const auto length = static_cast<int16_t>(lengthBytes[0] | lengthBytes[1] << 8);
    if (length < 0 || length > kMaxPackageNameLength) return false;
    const std::size_t nameSize = 2 * static_cast<std::size_t>(length);
    if (!source.ReadAt(at, nameBytes, nameSize)) return false;
    at += nameSize;
    if (!source.ReadAt(at, fixed, sizeof fixed)) return false;
    at += sizeof fixed;
    PackageRecord record;
    record.name.resize(static_cast<std::size_t>(length));
    for (std::size_t k = 0; k < record.name.size(); ++k)
      record.name[k] = static_cast<char16_t>(nameBytes[2 * k] | nameBytes[2 * k + 1] << 8);
    std::memcpy(record.digest.data(), fixed, 16);
    record.size = LoadU32(fixed + 16) ^ package_masks::kSize;
    record.storedSize = LoadU32(fixed + 20) ^ package_masks::kStoredSize;
    record.dataOffset = LoadU32(fixed + 24) ^ package_masks::kDataOffset;
    // A deletion has no bytes; every other record's bytes must lie inside the file.
    if (record.size != 0xFFFFFFFF && uint64_t{record.dataOffset} + record.storedSize > end) return false;
    records->push_back(std::move(record));
  }
  return true;
}
