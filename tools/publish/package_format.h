#pragma once
// The layout of an update package. A 12-byte header (minimum version, target version,
// masked index offset), the stored bytes of every record, and the index: a masked record
// count, then per record a 2-byte name length, the UTF-16LE name, the MD5 of the
// contents and the masked size, stored size and data offset.

#include <cstdint>

namespace update_package {

inline constexpr uint32_t kHeaderSize = 12;
inline constexpr uint32_t kIndexOffsetMask = 0x3E7A19C5;
inline constexpr uint32_t kCountMask = 0x71D04B2E;
inline constexpr uint32_t kSizeMask = 0x2C95E3A8;
inline constexpr uint32_t kStoredSizeMask = 0x4F6B07D1;
inline constexpr uint32_t kDataOffsetMask = 0x19A8C65B;
inline constexpr uint32_t kFixedRecordBytes = 2 + 16 + 4 + 4 + 4;

}  // namespace update_package
