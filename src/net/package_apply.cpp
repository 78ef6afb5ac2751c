// Update packages: choosing and downloading one from the server, and applying a
// package file record by record like the file check, with the package as the source.
#include "app/log.h"
#include "archive/client_archive_set.h"
#include "net/client_path.h"
#include "net/file_md5.h"
#include "net/parse_url.h"
#include "net/update_package.h"
#include "platform/file.h"

bool ClientArchiveSet::DownloadPatchPackage(int32_t clientVersion, int32_t serverVersion, int32_t& from, int32_t& to) {
  const std::u16string url = FindPatchPackage(clientVersion, serverVersion, from, to);
  if (url.empty()) return false;
  const UrlParts parts = ParseUrl(url);
  // Scheme, port and query are not used: packages come over plain HTTP from the path.
  const bool otherHost = parts.host != serverClient->serverHost();
  if (otherHost) {
    serverClient->host = parts.host;
    serverClient->Connect();
  }
  int32_t received = -1;
  bool complete = false;
  {
    platform::File file;
    if (file.Open(tempFilePath, platform::FileMode::kCreate) == 0) {
      received = serverClient->FetchToFile(parts.path, file);
      // A transfer that broke off would leave a package cut short: not worth applying.
      complete =
          received >= 0 && static_cast<uint32_t>(received) == serverClient->declaredLength.load() && file.Flush();
    }
  }
  if (otherHost) {
    serverClient->host = serverClient->serverHost();
    serverClient->Connect();
  }
  if (received >= 0 && !complete) Log::Error(u"Can't get file from server: %s", parts.path);
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

}  // namespace

int32_t ClientArchiveSet::ApplyPackage(const std::u16string& path) {
  OpenPackage package;
  if (package.file.Open(path, platform::FileMode::kRead) != 0) return -1;
  FilePackageSource source(package.file);
  cancelRequested = false;
  busy = true;
  const auto finish = [&](int32_t result) {
    package.file.Close();
    busy = false;
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
    if (!IsSafeClientPath(record.name)) {
      Log::Error(u"Bad file name in package: %s", record.name);
      return finish(-1);
    }
  }
  const std::size_t count = package.records.size();
  itemsTotal = count == 0 ? 1 : static_cast<int32_t>(count);
  itemsDone = 0;

  std::size_t applied = 0;
  for (; applied < count && !cancelRequested; ++applied) {
    const PackageRecord& record = package.records[applied];
    if (IsArchivePath(record.name)) {
      for (std::u16string_view name : archiveNames) {
        if (!BelongsToArchive(record.name, name)) continue;
        TavrinFilePackage* archive = GetPackage(name);
        if (archive == nullptr) {
          Log::Error(u"GetPackage error");
          return finish(-3);
        }
        if (record.size == kDeleteSize) {
          archive->RemoveFile(TavrinFilePackage::KeyOf(record.name));
          continue;
        }
        if (archive->GetFileData(record.name, true, &content_) == PackageResult::kOk &&
            DigestMatches(ComputeMd5(content_.data(), content_.size()), record.digest))
          break;
        if (!package.ReadStored(source, record) ||
            !verified_.Verify(package.stored.data(), package.stored.size(), record.size, record.digest)) {
          Log::Error(u"Package record does not match: %s", record.name);
          return finish(-3);
        }
        if (archive->SetFileCompressedData(record.name, package.stored.data(), record.storedSize, record.size) !=
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
      } else {
        Digest digest;
        {
          platform::File existing;
          if (existing.Open(fullPath, platform::FileMode::kRead) == 0) digest = ComputeFileMd5(existing);
        }
        if (!DigestMatches(digest, record.digest)) {
          platform::MakeDirectories(ParentFolder(fullPath));
          if (!package.ReadStored(source, record) ||
              !verified_.Verify(package.stored.data(), package.stored.size(), record.size, record.digest)) {
            Log::Error(u"Package record does not match: %s", record.name);
            return finish(-4);
          }
          platform::File out;
          if (out.Open(fullPath, platform::FileMode::kCreate) != 0 ||
              (verified_.size() > 0 && !out.Write(verified_.data(), verified_.size()))) {
            Log::Error(u"Can't create file %s", fullPath);
            return finish(-4);
          }
          ++filesStored;
        }
      }
    }
    ++itemsDone;
  }
  package.file.Close();
  itemsDone = itemsTotal.load();
  // A version is recorded only for a package applied in full.
  if (applied < count) return finish(kApplyCancelled);
  if (!WriteLocalVersion(package.header.targetVersion)) {
    Log::Error(u"Can't create file %s", clientVersionPath);
    return finish(-4);
  }
  return finish(0);
}
