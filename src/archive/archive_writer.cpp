// The writing side of TavrinFilePackage: create, store, remove, and commit the index.

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "archive/tavrin_file_package.h"
#include "platform/file.h"
#include "platform/text.h"

using namespace archive_format;

namespace {

// Large buffers go to the stream in pieces that its 32-bit counts can carry.
constexpr uint32_t kWritePiece = 1u << 20;

}  // namespace

PackageResult TavrinFilePackage::Create(const std::u16string& basePath, const std::u16string& archiveName) {
  Close();
  name_ = archiveName;
  readOnly_ = false;
  committedLength_ = 0;
  // A continuation left from an earlier archive of that name would be counted into the
  // new one's length; a new archive starts without it.
  const std::u16string oldContinuation = basePath + kContinuationExtension;
  if (platform::FileExists(oldContinuation)) platform::RemoveFile(oldContinuation);
  fileError_ = OpenFiles(basePath, platform::FileMode::kCreate);
  if (fileError_ != 0) return PackageResult::kCannotCreate;
  isOpen_ = true;
  format_ = kFormat188;
  unsigned char header[kHeaderSize];
  StoreLeU32(header, kHeaderMagic1);
  StoreLeU32(header + 4, 0);
  StoreLeU32(header + 8, kHeaderMagic2);
  if (!Seek(0) || !Write(header, kHeaderSize)) return PackageResult::kWriteFailed;
  Save();
  return PackageResult::kOk;
}

PackageResult TavrinFilePackage::FindOrCreateEntry(const std::u16string& fullName, EntryRecord** record) {
  *record = nullptr;
  const std::u16string key = KeyOf(fullName);
  auto found = index_.find(key);
  if (found != index_.end()) {
    *record = &found->second;
    return PackageResult::kOk;
  }
  // A name the field cannot hold exactly would be stored as some other name.
  std::string bytes;
  if (!platform::Cp936FromUtf16(fullName, &bytes) || bytes.size() > kMaxNameBytes || bytes.empty())
    return PackageResult::kBadName;
  EntryRecord fresh;
  std::memcpy(fresh.name, bytes.data(), bytes.size());
  *record = &index_.emplace(key, fresh).first->second;
  return PackageResult::kOk;
}

PackageResult TavrinFilePackage::SetFileData(const std::u16string& fileName, const void* data, uint32_t size) {
  const std::u16string fullName = name_ + u"\\" + fileName;
  const void* stored = data;
  uint32_t storedLength = size;
  try {
    scratch_.resize(size);
  } catch (const std::bad_alloc&) {
    return PackageResult::kCompressionFailed;
  }
  std::size_t compressedLength = 0;
  switch (deflater_.Compress(data, size, scratch_.data(), size, &compressedLength)) {
    case CodecResult::kOk:
      // Only strictly shorter is worth storing compressed.
      if (compressedLength < size) {
        stored = scratch_.data();
        storedLength = static_cast<uint32_t>(compressedLength);
      }
      break;
    case CodecResult::kDoesNotFit:
      break;
    case CodecResult::kFailed:
      return PackageResult::kCompressionFailed;
  }
  return SetFileCompressedData(fullName, stored, storedLength, size);
}

PackageResult TavrinFilePackage::SetFileCompressedData(const std::u16string& fullName, const void* data,
                                                       uint32_t storedLength, uint32_t uncompressedLength) {
  const auto* next = static_cast<const uint8_t*>(data);
  const StoredPieces pieces = [&next](uint32_t count) { return std::exchange(next, next + count); };
  return SetFileCompressedData(fullName, pieces, storedLength, uncompressedLength);
}

PackageResult TavrinFilePackage::SetFileCompressedData(const std::u16string& fullName, const StoredPieces& pieces,
                                                       uint32_t storedLength, uint32_t uncompressedLength) {
  if (!isOpen_) return PackageResult::kNotOpen;
  const bool existed = FindEntry(fullName, false) != nullptr;
  EntryRecord* record = nullptr;
  PackageResult result = FindOrCreateEntry(fullName, &record);
  if (result != PackageResult::kOk) return result;
  result = PlaceStoredBytes(record, pieces, storedLength, uncompressedLength);
  // A failed store leaves no empty entry behind that a later save would commit.
  if (result != PackageResult::kOk && !existed) index_.erase(KeyOf(fullName));
  return result;
}

// New bytes always go to the end of the archive, also when they would fit where the old
// ones are: overwriting committed bytes in place would change the committed state before
// the next commit, so an interrupted update could keep new bytes under an old index.
PackageResult TavrinFilePackage::PlaceStoredBytes(EntryRecord* record, const StoredPieces& pieces, uint32_t stored,
                                                  uint32_t uncompressed) {
  const uint64_t at = DualFilesStream::length;
  if (at + stored > kMaxArchiveLength) return PackageResult::kWriteFailed;
  if (stored != 0) {
    if (!Seek(at)) return PackageResult::kSeekFailed;
    for (uint32_t done = 0; done < stored;) {
      const uint32_t piece = std::min(kStorePiece, stored - done);
      const uint8_t* bytes = pieces(piece);
      if (bytes == nullptr) {
        // The archive stays as long as it was, as when the bytes were never offered.
        Truncate(at);
        return PackageResult::kSourceFailed;
      }
      if (!Write(bytes, piece)) return WriteFailure(stored);
      done += piece;
    }
    // Buffered bytes that cannot be written (a full disk) must fail this store, not a later one.
    if (!Flush()) return WriteFailure(stored);
  }
  record->dataPosition = static_cast<uint32_t>(at);
  record->storedLength = stored;
  record->uncompressedLength = uncompressed;
  indexChanged_ = true;
  return PackageResult::kOk;
}

PackageResult TavrinFilePackage::WriteFailure(uint64_t needed) {
  if (!DualFilesStream::diskFull()) return PackageResult::kWriteFailed;
  refusedBytes_ = needed;
  return PackageResult::kDiskFull;
}

PackageResult TavrinFilePackage::RemoveFile(const std::u16string& fullName) {
  if (index_.erase(fullName) > 0) indexChanged_ = true;
  return PackageResult::kOk;
}

PackageResult TavrinFilePackage::Save() {
  if (!isOpen_) return PackageResult::kNotOpen;
  format_ = kFormat188;
  return WriteIndex();
}

PackageResult TavrinFilePackage::WriteIndex() {
  if (!isOpen_) return PackageResult::kNotOpen;
  format_ = kFormat188;
  const uint64_t indexPosition = DualFilesStream::length;
  if (indexPosition > kMaxArchiveLength) return PackageResult::kWriteFailed;

  // The whole index and tail are built first and go out in a few large writes.
  std::vector<uint8_t> out;
  try {
    out.reserve(index_.size() * (4 + kRecordSize / 2) + kTailSize);
  } catch (const std::bad_alloc&) {
    return PackageResult::kWriteFailed;
  }
  unsigned char raw[kRecordSize];
  unsigned char packed[kRecordSize];
  for (const auto& [key, record] : index_) {
    EncodeRecord(record, raw);
    std::size_t packedLength = 0;
    const CodecResult compressed = deflater_.Compress(raw, kRecordSize, packed, kRecordSize, &packedLength);
    if (compressed == CodecResult::kFailed) return PackageResult::kCompressionFailed;
    const bool shorter = compressed == CodecResult::kOk && packedLength < kRecordSize;
    const uint32_t recordLength = shorter ? static_cast<uint32_t>(packedLength) : kRecordSize;
    AppendU32(&out, recordLength ^ kIndexKey);
    const unsigned char* bytes = shorter ? packed : raw;
    out.insert(out.end(), bytes, bytes + recordLength);
  }
  AppendU32(&out, kTailMagic1);
  AppendU32(&out, kFormat188);
  AppendU32(&out, static_cast<uint32_t>(indexPosition) ^ kIndexKey);
  AppendU32(&out, kTailMagic2);
  AppendU32(&out, static_cast<uint32_t>(index_.size()));
  AppendU32(&out, kFormat188);

  const uint64_t archiveLength = indexPosition + out.size();
  if (archiveLength > kMaxArchiveLength) return PackageResult::kWriteFailed;
  if (!Seek(indexPosition)) return PackageResult::kSeekFailed;
  for (std::size_t done = 0; done < out.size();) {
    const auto piece = static_cast<uint32_t>(std::min<std::size_t>(kWritePiece, out.size() - done));
    if (!Write(out.data() + done, piece)) return WriteFailure(out.size());
    done += piece;
  }
  // The data, index and tail reach the disk before the commit word points at them, so a
  // crash at any moment leaves either the old or the new commit.
  if (!Sync()) return WriteFailure(out.size());
  unsigned char commit[4];
  StoreLeU32(commit, static_cast<uint32_t>(archiveLength));
  if (!Seek(kArchiveLengthOffset)) return PackageResult::kSeekFailed;
  if (!Write(commit, 4) || !Sync()) return WriteFailure(out.size());
  Truncate(archiveLength);
  committedLength_ = std::min<uint64_t>(archiveLength, DualFilesStream::length);
  if (!Seek(archiveLength)) return PackageResult::kSeekFailed;
  return PackageResult::kOk;
}
