#include "archive/tavrin_file_package.h"

#include <algorithm>
#include <new>

#include "platform/text.h"

using namespace archive_format;

namespace {

// A zlib stream expands its input at most about 1032 times; an uncompressed length
// beyond that cannot be real and must not size an allocation.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 64;

// No real compressor needs this much for a 276-byte record.
constexpr uint32_t kMaxCompressedRecord = 64 * 1024;

}  // namespace

TavrinFilePackage::TavrinFilePackage() {
  splitSize = kSplitSize;
}

TavrinFilePackage::~TavrinFilePackage() {
  Close();
  index_.clear();
}

std::u16string TavrinFilePackage::KeyOf(std::u16string_view fullName) {
  std::u16string key(fullName);
  for (char16_t& unit : key)
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  return key;
}

std::u16string TavrinFilePackage::NameOf(const EntryRecord& record) {
  return platform::Utf16FromCp936(std::string_view(record.name, NameLength(record)));
}

PackageResult TavrinFilePackage::Open(const std::u16string& basePath, const std::u16string& archiveName) {
  return OpenWith(basePath, archiveName, platform::FileMode::kReadWrite);
}

PackageResult TavrinFilePackage::OpenReadOnly(const std::u16string& basePath, const std::u16string& archiveName) {
  return OpenWith(basePath, archiveName, platform::FileMode::kRead);
}

PackageResult TavrinFilePackage::OpenWith(const std::u16string& basePath, const std::u16string& archiveName,
                                          platform::FileMode mode) {
  Close();
  name_ = archiveName;
  readOnly_ = mode == platform::FileMode::kRead;
  committedLength_ = 0;
  fileError_ = OpenFiles(basePath, mode);
  if (fileError_ != 0) return PackageResult::kCannotOpen;
  isOpen_ = true;
  unsigned char magic1[4];
  unsigned char magic2[4];
  if (!Seek(0) || !Read(magic1, 4) || !Seek(8) || !Read(magic2, 4)) return PackageResult::kSeekFailed;
  if (LoadLeU32(magic1) != kHeaderMagic1 || LoadLeU32(magic2) != kHeaderMagic2)
    return PackageResult::kHeaderMagicMismatch;
  return LoadIndex();
}

PackageResult TavrinFilePackage::LoadIndex() {
  if (!isOpen_) return PackageResult::kNotOpen;
  unsigned char word[4];
  if (!Seek(kArchiveLengthOffset)) return PackageResult::kSeekFailed;
  if (!Read(word, 4)) return PackageResult::kReadFailed;
  const uint32_t archiveLength = LoadLeU32(word);

  // The archive must hold what the header claims before any position is derived from it.
  if (archiveLength > DualFilesStream::length || archiveLength < kHeaderSize + 4) return PackageResult::kReadFailed;

  if (!Seek(archiveLength - 4)) return PackageResult::kSeekFailed;
  if (!Read(word, 4)) return PackageResult::kReadFailed;
  const uint32_t format = LoadLeU32(word);
  const bool oldFormat = format == kFormatOldA || format == kFormatOldB;
  if (format != kFormat188 && !oldFormat) return PackageResult::kUnknownFormat;
  format_ = format;

  const uint32_t tailSize = oldFormat ? kOldTailSize : kTailSize;
  if (archiveLength < kHeaderSize + tailSize) return PackageResult::kReadFailed;
  const uint32_t tailStart = archiveLength - tailSize;
  unsigned char tail[kOldTailSize];
  if (!Seek(tailStart)) return PackageResult::kSeekFailed;
  if (!Read(tail, tailSize)) return PackageResult::kReadFailed;

  const uint32_t magic1 = LoadLeU32(tail);
  const uint32_t magic2 = LoadLeU32(tail + tailSize - 12);
  if (magic1 != (oldFormat ? kOldTailMagic1 : kTailMagic1) || magic2 != (oldFormat ? kOldTailMagic2 : kTailMagic2))
    return PackageResult::kTailMagicMismatch;
  const uint32_t count = LoadLeU32(tail + tailSize - 8);
  const uint32_t indexPosition =
      oldFormat ? LoadLeU32(tail + kOldTailIndexPositionOffset) ^ kOldIndexKeyA : LoadLeU32(tail + 8) ^ kIndexKey;

  // Every record takes its length prefix and at least one byte, all between the
  // index position and the tail.
  const uint32_t prefixSize = oldFormat ? 8 : 4;
  if (indexPosition < kHeaderSize || indexPosition > tailStart) return PackageResult::kReadFailed;
  uint64_t indexBytesLeft = tailStart - indexPosition;
  if (uint64_t{count} * (prefixSize + 1) > indexBytesLeft) return PackageResult::kReadFailed;

  index_.clear();
  index_.reserve(count);
  if (!Seek(indexPosition)) return PackageResult::kSeekFailed;

  unsigned char recordBytes[kRecordSize];
  for (uint32_t i = 0; i < count; ++i) {
    // Without this the count of bytes left would wrap and the tail would be read as records.
    if (indexBytesLeft < prefixSize) return PackageResult::kReadFailed;
    unsigned char prefix[8];
    if (!Read(prefix, prefixSize)) return PackageResult::kReadFailed;
    uint32_t recordLength = LoadLeU32(prefix) ^ (oldFormat ? kOldIndexKeyA : kIndexKey);
    if (oldFormat && (LoadLeU32(prefix + 4) ^ kOldIndexKeyB) != recordLength) return PackageResult::kLengthCopiesDiffer;
    indexBytesLeft -= prefixSize;
    if (recordLength == 0 || recordLength > indexBytesLeft) return PackageResult::kReadFailed;
    if (recordLength == kRecordSize) {
      if (!Read(recordBytes, kRecordSize)) return PackageResult::kReadFailed;
    } else {
      if (recordLength > kMaxCompressedRecord) return PackageResult::kDecompressionFailed;
      scratch_.resize(recordLength);
      if (!Read(scratch_.data(), recordLength)) return PackageResult::kReadFailed;
      std::size_t inflated = 0;
      // A record that inflates to anything but 276 bytes is damaged.
      if (inflater_.Decompress(scratch_.data(), recordLength, recordBytes, kRecordSize, &inflated) !=
              CodecResult::kOk ||
          inflated != kRecordSize)
        return PackageResult::kDecompressionFailed;
    }
    indexBytesLeft -= recordLength;

    EntryRecord record = DecodeRecord(recordBytes);
    const std::size_t nameLength = NameLength(record);
    std::replace(record.name, record.name + nameLength, '/', '\\');
    index_.insert_or_assign(KeyOf(NameOf(record)), record);
  }
  // Anything after the last committed index is an interrupted write: cut it away. Only an
  // index that loaded proves the header's length right; a damaged header must not cost the
  // file its bytes. An archive opened for inspection keeps them, to be reported.
  committedLength_ = archiveLength;
  if (archiveLength != DualFilesStream::length && !readOnly_) Truncate(archiveLength);
  committedLength_ = std::min<uint64_t>(committedLength_, DualFilesStream::length);
  return PackageResult::kOk;
}

TavrinFilePackage::EntryRecord* TavrinFilePackage::FindEntry(const std::u16string& fullName, bool create) {
  auto found = index_.find(KeyOf(fullName));
  if (found != index_.end()) return &found->second;
  if (!create) return nullptr;
  EntryRecord* record = nullptr;
  FindOrCreateEntry(fullName, &record);
  return record;
}

PackageResult TavrinFilePackage::GetFileData(const std::u16string& fileName, bool nameIsFull,
                                             std::vector<uint8_t>* output) {
  const EntryRecord* record = FindEntry(nameIsFull ? fileName : name_ + u"\\" + fileName, false);
  if (record == nullptr) return PackageResult::kFileNotFound;
  const uint32_t stored = record->storedLength;
  const uint32_t size = record->uncompressedLength;
  if (stored == 0) {
    output->clear();
    return PackageResult::kOk;
  }
  // Stored bytes must lie inside the archive.
  if (uint64_t{record->dataPosition} + stored > DualFilesStream::length) return PackageResult::kReadFailed;
  const bool compressed = stored < size;
  if (compressed && size > stored * kMaxInflateRatio + kInflateSlack) return PackageResult::kDecompressionFailed;
  if (!Seek(record->dataPosition)) return PackageResult::kSeekFailed;

  try {
    if (!compressed) {
      output->resize(stored);
      return Read(output->data(), stored) ? PackageResult::kOk : PackageResult::kReadFailed;
    }
    scratch_.resize(stored);
    if (!Read(scratch_.data(), stored)) return PackageResult::kReadFailed;
    output->resize(size);
  } catch (const std::bad_alloc&) {
    return PackageResult::kReadFailed;
  }
  std::size_t inflated = 0;
  // Contents shorter than their recorded length are as damaged as contents that do not inflate.
  if (inflater_.Decompress(scratch_.data(), stored, output->data(), size, &inflated) != CodecResult::kOk ||
      inflated != size)
    return PackageResult::kDecompressionFailed;
  return PackageResult::kOk;
}

PackageResult TavrinFilePackage::FindStored(const std::u16string& fullName, StoredPlace* place) {
  const EntryRecord* record = FindEntry(fullName, false);
  if (record == nullptr) return PackageResult::kFileNotFound;
  // Stored bytes must lie inside the archive.
  if (record->storedLength != 0 && uint64_t{record->dataPosition} + record->storedLength > DualFilesStream::length)
    return PackageResult::kReadFailed;
  place->position = record->dataPosition;
  place->storedLength = record->storedLength;
  place->uncompressedLength = record->uncompressedLength;
  return PackageResult::kOk;
}

PackageResult TavrinFilePackage::ReadStored(const StoredPlace& place, uint32_t offset, void* out, uint32_t count) {
  if (count == 0 || offset > place.storedLength || count > place.storedLength - offset)
    return PackageResult::kReadFailed;
  if (!Seek(uint64_t{place.position} + offset)) return PackageResult::kSeekFailed;
  return Read(out, count) ? PackageResult::kOk : PackageResult::kReadFailed;
}

PackageResult TavrinFilePackage::Close() {
  if (indexChanged_) {
    PackageResult result = isOpen_ ? Save() : PackageResult::kNotOpen;
    indexChanged_ = false;
    if (result != PackageResult::kOk) return result;
  }
  index_.clear();
  isOpen_ = false;
  CloseFiles();
  return PackageResult::kOk;
}
