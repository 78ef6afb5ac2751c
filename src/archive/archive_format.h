#pragma once
// The on-disk layout of an archive (.pck, continued in .pkx). Every integer is 32-bit little-endian.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/byte_order.h"

namespace archive_format {

inline constexpr uint64_t kSplitSize = 0x7FFFFF00;         // 256 bytes short of 2 GiB per file
inline constexpr uint64_t kMaxArchiveLength = 0xFFFFFFFF;  // positions are 32-bit

// Header: magic 1, archive length (the commit word), magic 2.
inline constexpr uint32_t kHeaderMagic1 = 0x4DCA23EF;
inline constexpr uint32_t kHeaderMagic2 = 0x56A089B7;
inline constexpr uint32_t kHeaderSize = 12;
inline constexpr uint32_t kArchiveLengthOffset = 4;

// Format 188, the only one written.
inline constexpr uint32_t kFormat188 = 188;
inline constexpr uint32_t kIndexKey = 0x58E3B20D;
inline constexpr uint32_t kTailMagic1 = 0x56A2E3B1;
inline constexpr uint32_t kTailMagic2 = 0x67AC431F;
inline constexpr uint32_t kTailSize = 24;

// Formats 0x20001 and 0x20002, read only.
inline constexpr uint32_t kFormatOldA = 0x20001;
inline constexpr uint32_t kFormatOldB = 0x20002;
inline constexpr uint32_t kOldIndexKeyA = 0x3C5A9E17;
inline constexpr uint32_t kOldIndexKeyB = 0x6B2D41F8;
inline constexpr uint32_t kOldTailMagic1 = 0xFDFDFEEE;
inline constexpr uint32_t kOldTailMagic2 = 0xF00DBEEF;
inline constexpr uint32_t kOldTailSize = 280;
inline constexpr uint32_t kOldTailIndexPositionOffset = 8;  // from the tail's start

// Entry record.
inline constexpr std::size_t kNameFieldSize = 260;
inline constexpr std::size_t kMaxNameBytes = kNameFieldSize - 1;
inline constexpr uint32_t kRecordSize = 276;

struct EntryRecord {
  char name[kNameFieldSize] = {};
  uint32_t dataPosition = 0;
  uint32_t uncompressedLength = 0;
  uint32_t storedLength = 0;
  uint32_t unused = 0;
};

inline void EncodeRecord(const EntryRecord& record, unsigned char* out) {
  std::memcpy(out, record.name, kNameFieldSize);
  StoreLeU32(out + 260, record.dataPosition);
  StoreLeU32(out + 264, record.uncompressedLength);
  StoreLeU32(out + 268, record.storedLength);
  StoreLeU32(out + 272, record.unused);
}

inline EntryRecord DecodeRecord(const unsigned char* bytes) {
  EntryRecord record;
  std::memcpy(record.name, bytes, kNameFieldSize);
  record.dataPosition = LoadLeU32(bytes + 260);
  record.uncompressedLength = LoadLeU32(bytes + 264);
  record.storedLength = LoadLeU32(bytes + 268);
  record.unused = LoadLeU32(bytes + 272);
  return record;
}

// Length of the name up to its terminator, or the whole field when it has none.
inline std::size_t NameLength(const EntryRecord& record) {
  const void* end = std::memchr(record.name, 0, kNameFieldSize);
  return end == nullptr ? kNameFieldSize : static_cast<std::size_t>(static_cast<const char*>(end) - record.name);
}

}  // namespace archive_format
