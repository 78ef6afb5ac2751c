// Update packages: choosing and downloading one from the server, and applying a
// package file record by record like the file check, with the package as the source.
#include <filesystem>

#include "app/log.h"
#include "engine/busy_scope.h"
#include "engine/client_archive_set.h"
#include "engine/client_path.h"
#include "engine/plain_file.h"
#include "net/parse_url.h"
#include "net/update_package.h"
#include "platform/file.h"

namespace {

// Bytes of free disk space where `folder` lies; the largest value when unknown (a full
// disk then shows as a failed write).
uint64_t AvailableSpace(const std::u16string& folder) {
  std::error_code error;
  const std::filesystem::space_info space = std::filesystem::space(std::filesystem::path(folder), error);
  return error ? UINT64_MAX : space.available;
}

uint32_t WholeMebibytes(uint64_t bytes, bool roundUp) {
  const uint64_t mebibytes = (bytes + (roundUp ? (1u << 20) - 1 : 0)) >> 20;
  return static_cast<uint32_t>(std::min<uint64_t>(mebibytes, UINT32_MAX));
}

}  // namespace

bool ClientArchiveSet::DownloadPatchPackage(int32_t clientVersion, int32_t serverVersion, int32_t& from, int32_t& to) {
  BusyScope busyScope(busy);
  const std::u16string url = FindPatchPackage(clientVersion, serverVersion, from, to);
  // Every way out of the package route leaves a line: the file list then does the work.
  if (url.empty()) {
    Log::Info(u"No update package from version %d to %d", clientVersion, serverVersion);
    return false;
  }
  const UrlParts parts = ParseUrl(url);
  // Scheme, port and query are not used: packages come over plain HTTP from the path.
  UpdateServerClient::FileFetch fetch;
  fetch.cancel = cancelToken.get();
  fetch.host = parts.host;
  FetchResult fetched;
  uint64_t available = 0;
  bool complete = false;
  bool opened = false;
  {
    // A client folder made by hand may lack the folder of the temporary file.
    platform::MakeDirectories(ParentFolder(tempFilePath));
    platform::File file;
    if (file.Open(tempFilePath, platform::FileMode::kCreate) == 0) {
      opened = true;
      // Measured once the old package is gone; a package that leaves the disk without
      // room for the archives to grow is not fetched at all.
      available = AvailableSpace(ParentFolder(tempFilePath));
      const uint64_t room = available > kDiskReserve ? available - kDiskReserve : 0;
      fetch.maxLength = static_cast<uint32_t>(std::min<uint64_t>(room, UpdateServerClient::kMaxFileLength));
      fetched = serverClient->FetchToFile(parts.path, file, fetch);
      // A transfer that broke off would leave a package cut short: not worth applying.
      complete = fetched.complete() && file.Flush();
    }
  }
  const bool noRoom =
      fetched.failure == FetchFailure::kTooLarge && fetched.declared <= UpdateServerClient::kMaxFileLength;
  if (noRoom) {
    Log::Error(
        u"Not enough disk space for the update package %s: it needs %u MiB with room for the archives, %u MiB are free "
        u"in %s",
        parts.path, WholeMebibytes(fetched.declared + kDiskReserve, true), WholeMebibytes(available, false),
        ParentFolder(tempFilePath));
  }
  if (!opened)
    Log::Error(u"Can't create file %s", tempFilePath);
  else if (!complete && !noRoom && fetched.failure != FetchFailure::kCancelled)
    Log::Error(u"Can't get file from server: %s", parts.path);
  return complete;
}

namespace {

// One package being applied: its records and the reads of their stored bytes.
struct OpenPackage {
  platform::File file;
  PackageHeader header;
  std::vector<PackageRecord> records;
  std::vector<uint8_t> stored;

  bool ReadStored(PackageSource& source, const PackageRecord& record) {
    try {
      stored.resize(record.storedSize);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return source.ReadAt(record.dataOffset, stored.data(), stored.size());
  }
};

// A record's stored bytes read piece by piece from the package.
StoredContent::Source RecordSource(PackageSource& source, const PackageRecord& record) {
  return [&source, offset = uint64_t{record.dataOffset}](uint8_t* buffer, std::size_t size) mutable {
    const bool read = source.ReadAt(offset, buffer, size);
    offset += size;
    return read;
  };
}

}  // namespace

int32_t ClientArchiveSet::ApplyPackage(const std::u16string& path) {
  OpenPackage package;
  if (package.file.Open(path, platform::FileMode::kRead) != 0) return -1;
  FilePackageSource source(package.file);
  BusyScope busyScope(busy);
  const auto finish = [&](int32_t result) {
    package.file.Close();
    return result;
  };

  if (!ReadPackageHeader(source, &package.header)) {
    Log::Error(u"Damaged package: %s", path);
    return finish(-1);
  }
  if (package.header.minimumVersion > ReadLocalVersion()) return finish(-2);
  // The whole index is read and judged before any record is applied.
  if (!ReadPackageIndex(source, package.header, &package.records)) {
    Log::Error(u"Damaged package: %s", path);
    return finish(-1);
  }
  for (const PackageRecord& record : package.records) {
    if (!IsUsableClientPath(record.name)) {
      Log::Error(u"Bad file name in package: %s", record.name);
      return finish(-1);
    }
  }
  const std::size_t count = package.records.size();
  itemsTotal = count == 0 ? 1 : static_cast<int32_t>(count);
  itemsDone = 0;
  // So is every record's content: damage found halfway would leave a package applied in part.
  for (const PackageRecord& record : package.records) {
    if (cancelRequested()) {
      itemsDone = itemsTotal.load();
      return finish(kApplyCancelled);
    }
    if (record.size != kDeleteSize &&
        !verified_.Verify(RecordSource(source, record), record.storedSize, record.size, record.digest)) {
      Log::Error(u"Package record does not match: %s", record.name);
      return finish(-1);
    }
  }

  std::size_t applied = 0;
  for (; applied < count && !cancelRequested(); ++applied) {
    const PackageRecord& record = package.records[applied];
    if (IsArchivePath(record.name)) {
      const std::u16string entryName = ArchiveEntryName(record.name);
      for (std::u16string_view name : archiveNames) {
        if (!BelongsToArchive(record.name, name)) continue;
        TavrinFilePackage* archive = GetPackage(name);
        if (archive == nullptr) {
          Log::Error(u"GetPackage error");
          return finish(-3);
        }
        if (record.size == kDeleteSize) {
          archive->RemoveFile(TavrinFilePackage::KeyOf(entryName));
          continue;
        }
        if (ArchivedMatches(*archive, entryName, record.digest)) break;
        if (!package.ReadStored(source, record)) {
          Log::Error(u"Damaged package: %s", path);
          return finish(-1);
        }
        if (archive->SetFileCompressedData(entryName, package.stored.data(), record.storedSize, record.size) !=
            PackageResult::kOk) {
          Log::Error(u"SetFileCompressedData error");
          return finish(-3);
        }
        ++filesStored;
        break;
      }
    } else {
      const std::u16string fullPath = PlainFilePath(record.name);
      if (record.size == kDeleteSize) {
        platform::RemoveFile(fullPath);
      } else if (!PlainFileMatches(fullPath, record.digest)) {
        const PlainFileResult written = WritePlainFile(fullPath, [&](const StoredContent::Sink& sink) {
          return verified_.Verify(RecordSource(source, record), record.storedSize, record.size, record.digest, sink);
        });
        if (written == PlainFileResult::kContentMismatch) {
          // Checked above; the package changed under us.
          Log::Error(u"Package record does not match: %s", record.name);
          return finish(-1);
        }
        if (written == PlainFileResult::kCannotWrite) {
          Log::Error(u"Can't create file %s", fullPath);
          return finish(-4);
        }
        ++filesStored;
      }
    }
    ++itemsDone;
  }
  package.file.Close();
  itemsDone = itemsTotal.load();
  // A version is recorded only for a package applied in full.
  if (applied < count) return finish(kApplyCancelled);
  if (!WriteLocalVersion(package.header.targetVersion)) return finish(-3);
  return finish(0);
}
