#pragma once
// Archive files put together byte by byte, independently of the writer: for the
// read-only formats, for damage, and for checking what the writer put on disk.

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace archive_image {

inline constexpr uint32_t kHeaderMagic1 = 0x4DCA23EF;
inline constexpr uint32_t kHeaderMagic2 = 0x56A089B7;
inline constexpr uint32_t kKey188 = 0x58E3B20D;
inline constexpr uint32_t kTailMagic1 = 0x56A2E3B1;
inline constexpr uint32_t kTailMagic2 = 0x67AC431F;
inline constexpr uint32_t kKeyA = 0x3C5A9E17;
inline constexpr uint32_t kKeyB = 0x6B2D41F8;
inline constexpr uint32_t kOldTailMagic1 = 0xFDFDFEEE;
inline constexpr uint32_t kOldTailMagic2 = 0xF00DBEEF;
inline constexpr uint32_t kRecordSize = 276;

using Bytes = std::vector<uint8_t>;

inline void PutU32(Bytes* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

inline void SetU32(Bytes* out, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t GetU32(const Bytes& bytes, std::size_t at) {
  return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
         uint32_t{bytes[at + 3]} << 24;
}

inline Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// zlib's compress2 at the default level, as the format's writer uses it.
inline Bytes Deflate(const Bytes& input) {
  uLongf size = compressBound(static_cast<uLong>(input.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, input.data(), static_cast<uLong>(input.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

// A 276-byte entry record; `name` is code page 936 bytes, cut to the 260-byte field.
inline Bytes Record(const std::string& name, uint32_t position, uint32_t size, uint32_t stored, uint32_t unused = 0) {
  Bytes record(kRecordSize, 0);
  std::memcpy(record.data(), name.data(), std::min<std::size_t>(name.size(), 260));
  SetU32(&record, 260, position);
  SetU32(&record, 264, size);
  SetU32(&record, 268, stored);
  SetU32(&record, 272, unused);
  return record;
}

class Image {
 public:
  explicit Image(uint32_t format = 188) : format_(format) {
    PutU32(&bytes_, kHeaderMagic1);
    PutU32(&bytes_, 0);
    PutU32(&bytes_, kHeaderMagic2);
  }

  bool oldFormat() const { return format_ != 188; }

  // Appends stored bytes; returns their position.
  uint32_t AddData(const Bytes& data) {
    const auto at = static_cast<uint32_t>(bytes_.size());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return at;
  }

  // Appends one index record: the 276 bytes, or their zlib stream.
  void AddRecord(const Bytes& record, bool compress) {
    const Bytes body = compress ? Deflate(record) : record;
    const auto length = static_cast<uint32_t>(body.size());
    AddPrefixed(length, length, body);
  }

  // Appends a record with the length words given (before their keys are applied) and any body.
  void AddPrefixed(uint32_t length, uint32_t secondLength, const Bytes& body) {
    if (!indexPosition_) indexPosition_ = static_cast<uint32_t>(bytes_.size());
    if (oldFormat()) {
      PutU32(&bytes_, length ^ kKeyA);
      PutU32(&bytes_, secondLength ^ kKeyB);
    } else {
      PutU32(&bytes_, length ^ kKey188);
    }
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    ++count_;
  }

  // The tail, and the archive length in the header. The entry count is the number of
  // records added unless one is given.
  Bytes Finish(std::optional<uint32_t> count = std::nullopt) const {
    Bytes out = bytes_;
    const uint32_t indexPosition = indexPosition_.value_or(static_cast<uint32_t>(out.size()));
    if (oldFormat()) {
      PutU32(&out, kOldTailMagic1);
      PutU32(&out, 0x12345678);  // not interpreted
      PutU32(&out, indexPosition ^ kKeyA);
      out.insert(out.end(), 256, 0xA5);  // not interpreted
      PutU32(&out, kOldTailMagic2);
      PutU32(&out, count.value_or(count_));
      PutU32(&out, format_);
    } else {
      PutU32(&out, kTailMagic1);
      PutU32(&out, 188);
      PutU32(&out, indexPosition ^ kKey188);
      PutU32(&out, kTailMagic2);
      PutU32(&out, count.value_or(count_));
      PutU32(&out, 188);
    }
    SetU32(&out, 4, static_cast<uint32_t>(out.size()));
    return out;
  }

 private:
  uint32_t format_;
  Bytes bytes_;
  std::optional<uint32_t> indexPosition_;
  uint32_t count_ = 0;
};

struct ParsedRecord {
  std::string name;  // up to the terminator
  uint32_t position = 0;
  uint32_t size = 0;
  uint32_t stored = 0;
  bool compressed = false;  // as the index holds it
  Bytes raw;                // the 276 bytes
};

struct ParsedArchive {
  uint32_t archiveLength = 0;
  uint32_t indexPosition = 0;
  std::vector<ParsedRecord> records;
};

// Reads a format-188 archive the writer produced; nullopt when it is not one.
inline std::optional<ParsedArchive> Parse188(const Bytes& bytes) {
  if (bytes.size() < 36 || GetU32(bytes, 0) != kHeaderMagic1 || GetU32(bytes, 8) != kHeaderMagic2) return std::nullopt;
  ParsedArchive archive;
  archive.archiveLength = GetU32(bytes, 4);
  const std::size_t n = archive.archiveLength;
  if (n != bytes.size()) return std::nullopt;
  if (GetU32(bytes, n - 24) != kTailMagic1 || GetU32(bytes, n - 20) != 188 || GetU32(bytes, n - 12) != kTailMagic2 ||
      GetU32(bytes, n - 4) != 188)
    return std::nullopt;
  archive.indexPosition = GetU32(bytes, n - 16) ^ kKey188;
  const uint32_t count = GetU32(bytes, n - 8);
  std::size_t at = archive.indexPosition;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 4 > n - 24) return std::nullopt;
    const uint32_t length = GetU32(bytes, at) ^ kKey188;
    at += 4;
    if (length == 0 || at + length > n - 24) return std::nullopt;
    ParsedRecord record;
    record.compressed = length != kRecordSize;
    if (record.compressed) {
      record.raw.resize(kRecordSize);
      uLongf size = kRecordSize;
      if (uncompress(record.raw.data(), &size, bytes.data() + at, length) != Z_OK || size != kRecordSize)
        return std::nullopt;
    } else {
      record.raw.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    at += length;
    const auto* name = reinterpret_cast<const char*>(record.raw.data());
    const void* end = std::memchr(name, 0, 260);
    record.name.assign(name, end == nullptr ? 260 : static_cast<std::size_t>(static_cast<const char*>(end) - name));
    record.position = GetU32(record.raw, 260);
    record.size = GetU32(record.raw, 264);
    record.stored = GetU32(record.raw, 268);
    archive.records.push_back(record);
  }
  if (at != n - 24) return std::nullopt;
  return archive;
}

}  // namespace archive_image
