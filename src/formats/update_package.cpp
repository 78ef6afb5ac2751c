#include "formats/update_package.h"

#include <cstring>

#include "base/byte_order.h"
#include "formats/file_list.h"

namespace {

using Kind = PackageIndexFault::Kind;

bool Refuse(PackageIndexFault* fault, Kind kind, uint32_t record, int64_t value) {
  if (fault != nullptr) *fault = PackageIndexFault{kind, record, value};
  return false;
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
  header->minimumVersion = static_cast<int32_t>(LoadLeU32(raw));
  header->targetVersion = static_cast<int32_t>(LoadLeU32(raw + 4));
  header->indexOffset = LoadLeU32(raw + 8) ^ package_masks::kIndexOffset;
  return true;
}

bool ReadPackageIndex(PackageSource& source, const PackageHeader& header, std::vector<PackageRecord>* records,
                      PackageIndexFault* fault) {
  records->clear();
  const uint64_t end = source.size();
  uint64_t at = header.indexOffset;
  // Every read is bounded first, so that a failing read is the source's fault, not the package's.
  if (at > end || end - at < 4) return Refuse(fault, Kind::kIndexPastEnd, 0, header.indexOffset);
  uint8_t raw[4];
  if (!source.ReadAt(at, raw, 4)) return Refuse(fault, Kind::kUnreadable, 0, 0);
  at += 4;
  const uint32_t count = LoadLeU32(raw) ^ package_masks::kCount;
  // Every record takes at least its fixed part: a count the rest of the file cannot
  // hold is damage, not a reason to allocate.
  if (count > (end - at) / kPackageRecordFixedSize) return Refuse(fault, Kind::kCountTooLarge, 0, count);
  records->reserve(count);
  // The name, then the digest and the three masked fields.
  uint8_t rest[2 * kMaxPackageNameLength + kPackageRecordFixedSize - 2];
  for (uint32_t i = 0; i < count; ++i) {
    if (end - at < kPackageRecordFixedSize) return Refuse(fault, Kind::kRecordPastEnd, i, 0);
    uint8_t lengthBytes[2];
    if (!source.ReadAt(at, lengthBytes, 2)) return Refuse(fault, Kind::kUnreadable, i, 0);
    at += 2;
    const auto length = static_cast<int16_t>(LoadLeU16(lengthBytes));
    if (length < 0 || length > kMaxPackageNameLength) return Refuse(fault, Kind::kNameLength, i, length);
    const std::size_t nameSize = 2 * static_cast<std::size_t>(length);
    const std::size_t restSize = nameSize + kPackageRecordFixedSize - 2;
    if (end - at < restSize) return Refuse(fault, Kind::kRecordPastEnd, i, 0);
    if (!source.ReadAt(at, rest, restSize)) return Refuse(fault, Kind::kUnreadable, i, 0);
    at += restSize;
    PackageRecord record;
    record.name.resize(static_cast<std::size_t>(length));
    for (std::size_t k = 0; k < record.name.size(); ++k)
      record.name[k] = static_cast<char16_t>(LoadLeU16(rest + 2 * k));
    const uint8_t* fixed = rest + nameSize;
    std::memcpy(record.digest.data(), fixed, 16);
    record.size = LoadLeU32(fixed + 16) ^ package_masks::kSize;
    record.storedSize = LoadLeU32(fixed + 20) ^ package_masks::kStoredSize;
    record.dataOffset = LoadLeU32(fixed + 24) ^ package_masks::kDataOffset;
    // A deletion has no bytes; every other record's bytes must lie inside the file.
    if (record.size != kDeleteSize && uint64_t{record.dataOffset} + record.storedSize > end)
      return Refuse(fault, Kind::kStoredPastEnd, i, 0);
    records->push_back(std::move(record));
  }
  return true;
}
