#include "engine/target_check.h"

#include <algorithm>

#include "engine/client_archives.h"
#include "engine/client_path.h"
#include "engine/file_md5.h"
#include "platform/file.h"

TargetCheck::TargetCheck(ClientArchives& archives, const ClientLayout& layout, std::function<bool()> stopped)
    : archives_(archives), layout_(layout), stopped_(std::move(stopped)) {}

TargetState TargetCheck::Run(const ListEntry& entry, ExpectedContent* expected) {
  // Nothing is read for a name that could leave the client folder, nor for a deletion.
  if (entry.info.size == kDeleteSize || !IsUsableClientPath(entry.name)) return TargetState::kUnknown;
  const std::optional<std::size_t> archiveIndex = ArchiveOfPath(entry.name);
  if (!archiveIndex) return Plain(entry.name, entry.info, expected);
  TavrinFilePackage* archive = archives_.Find(kArchiveNames[*archiveIndex]);
  // Whoever handles the entry reports the archive that is not open.
  if (archive == nullptr) return TargetState::kUnknown;
  return Archived(*archive, archives_.LockOf(*archiveIndex), ArchiveEntryName(entry.name), entry.info, expected);
}

TargetState TargetCheck::Archived(TavrinFilePackage& archive, std::mutex& mutex, const std::u16string& entryName,
                                  const FileInfo& info, ExpectedContent* expected) {
  const platform::Md5Digest& digest = info.digest;
  TavrinFilePackage::StoredPlace place;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (archive.FindStored(entryName, &place) != PackageResult::kOk) return TargetState::kDiffers;
  }
  const bool compressed = place.storedLength < place.uncompressedLength;
  if (expected != nullptr && (compressed ? place.uncompressedLength : place.storedLength) != info.size)
    return TargetState::kDiffers;
  const StoredContent::Sink compare =
      expected == nullptr ? StoredContent::Sink()
                          : [expected](const uint8_t* data, std::size_t size) { return expected->Next(data, size); };
  // Each piece is read under the lock and inflated and hashed outside it.
  uint32_t offset = 0;
  const StoredContent::Source read = [&](uint8_t* buffer, std::size_t size) {
    if (Stopped()) return false;
    const auto count = static_cast<uint32_t>(size);
    std::lock_guard<std::mutex> lock(mutex);
    const bool ok = archive.ReadStored(place, offset, buffer, count) == PackageResult::kOk;
    offset += count;
    return ok;
  };
  if (compressed) {
    return content_.Verify(read, place.storedLength, place.uncompressedLength, digest, compare) ? TargetState::kMatches
                                                                                                : Failed();
  }
  // Stored bytes not shorter than the content are the content itself, all of them.
  piece_.resize(StoredContent::kPieceSize);
  platform::Md5 md5;
  for (uint32_t done = 0; done < place.storedLength;) {
    const auto count = std::min<uint32_t>(static_cast<uint32_t>(piece_.size()), place.storedLength - done);
    if (!read(piece_.data(), count) || (compare && !compare(piece_.data(), count)) || !md5.Update(piece_.data(), count))
      return Failed();
    done += count;
  }
  platform::Md5Digest actual{};
  return md5.Finish(&actual) && actual == digest ? TargetState::kMatches : TargetState::kDiffers;
}

TargetState TargetCheck::Plain(const std::u16string& relative, const FileInfo& info, ExpectedContent* expected) {
  platform::File existing;
  if (existing.Open(layout_.PlainFilePath(relative), platform::FileMode::kRead) != 0) return TargetState::kDiffers;
  FilePieces compare;
  if (expected != nullptr) {
    uint64_t size = 0;
    if (!existing.Seek(0, platform::SeekOrigin::kEnd) || !existing.Tell(&size) || size != info.size ||
        !existing.Seek(0, platform::SeekOrigin::kStart))
      return TargetState::kDiffers;
    compare = [expected](const uint8_t* data, std::size_t count) { return expected->Next(data, count); };
  }
  const Digest actual = ComputeFileMd5(existing, stopped_, compare);
  if (!actual) return Failed();
  return *actual == info.digest ? TargetState::kMatches : TargetState::kDiffers;
}

TargetState TargetCheck::Failed() const {
  return Stopped() ? TargetState::kBrokenOff : TargetState::kDiffers;
}
