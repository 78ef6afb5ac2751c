#pragma once
// The byte layout of an update package, shared by its reader and by publish's writer:
// a 12-byte header (minimum version, target version, masked index offset), the stored
// bytes of every record, and the index: a masked record count, then per record a 2-byte
// name length, the UTF-16LE name, the MD5 of the contents and the masked size, stored
// size and data offset. All integers little-endian.

#include <cstddef>
#include <cstdint>

namespace package_masks {
inline constexpr uint32_t kIndexOffset = 0x3E7A19C5;
inline constexpr uint32_t kCount = 0x71D04B2E;
inline constexpr uint32_t kSize = 0x2C95E3A8;
inline constexpr uint32_t kStoredSize = 0x4F6B07D1;
inline constexpr uint32_t kDataOffset = 0x19A8C65B;
}  // namespace package_masks

inline constexpr std::size_t kPackageHeaderSize = 12;
inline constexpr int kMaxPackageNameLength = 259;
// A record without its name.
inline constexpr std::size_t kPackageRecordFixedSize = 30;
