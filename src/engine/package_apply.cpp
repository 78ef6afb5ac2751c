// Update packages: choosing and downloading one from the server, and applying a
// package file record by record like the file check, with the package as the source.
#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>

#include "base/log.h"
#include "base/paths.h"
#include "engine/busy_scope.h"
#include "engine/client_archive_set.h"
#include "engine/client_path.h"
#include "engine/entry_pass.h"
#include "engine/entry_update.h"
#include "engine/ordered_pool.h"
#include "formats/update_package.h"
#include "net/parse_url.h"
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

// The package file read by several threads at once: each read is one seek and one read
// of the one handle, under a lock.
class SharedPackageSource final : public PackageSource {
 public:
  explicit SharedPackageSource(PackageSource& source) : source_(source) {}
  uint64_t size() const override { return source_.size(); }
  bool ReadAt(uint64_t offset, void* out, std::size_t count) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return source_.ReadAt(offset, out, count);
  }

 private:
  PackageSource& source_;
  std::mutex mutex_;
};

// A record's stored bytes read piece by piece from the package.
StoredContent::Source RecordBytes(PackageSource& source, const PackageRecord& record) {
  return [&source, offset = uint64_t{record.dataOffset}](uint8_t* buffer, std::size_t size) mutable {
    const bool read = source.ReadAt(offset, buffer, size);
    offset += size;
    return read;
  };
}

// New content from an update package: each record's stored bytes where its data offset
// points.
class PackageContentSource final : public ContentSource {
 public:
  PackageContentSource(PackageSource& source, const std::vector<PackageRecord>& records, const std::u16string& path)
      : source_(source), records_(records), path_(path) {}

  // Every record's content was checked before the first was applied.
  bool Stored(std::size_t index, const ListedEntry&, std::span<const uint8_t>* stored) override {
    const PackageRecord& record = records_[index];
    try {
      stored_.resize(record.storedSize);
    } catch (const std::bad_alloc&) {
      stored_.clear();
    }
    if (stored_.size() != record.storedSize || !source_.ReadAt(record.dataOffset, stored_.data(), stored_.size())) {
      Log::Error(u"Damaged package: %s", path_);
      return false;
    }
    *stored = stored_;
    return true;
  }
  bool Prepare(std::size_t, const ListedEntry&) override { return true; }
  bool Content(std::size_t index, const ListedEntry&, const StoredContent::Sink& sink) override {
    const PackageRecord& record = records_[index];
    return checker_.Verify(RecordBytes(source_, record), record.storedSize, record.size, record.digest, sink);
  }
  void ReportWrongContent(std::size_t index, const ListedEntry&) override {
    // Checked before anything was applied: the package changed under us.
    Log::Error(u"Package record does not match: %s", records_[index].name);
  }

 private:
  PackageSource& source_;
  const std::vector<PackageRecord>& records_;
  const std::u16string& path_;
  // Reused from record to record.
  std::vector<uint8_t> stored_;
  StoredContent checker_;
};

// Checks every record's content against its size and digest on `threads` threads; the
// index of the first record (in package order) that does not match, `records.size()`
// when all match, none when a cancel came first.
std::optional<std::size_t> FirstWrongRecord(PackageSource& source, const std::vector<PackageRecord>& records,
                                            int threads, const CancelToken* cancel) {
  // The calling thread checks too, while it waits for the next record's answer.
  const std::size_t workers = threads <= 1 ? 0 : static_cast<std::size_t>(threads) - 1;
  std::vector<StoredContent> checkers(workers + 1);
  std::atomic<bool> stopping{false};
  OrderedPool pool(
      records.size(), workers, 4 * (workers + 1),
      [&](std::size_t item, std::size_t worker) -> uint8_t {
        const PackageRecord& record = records[item];
        if (record.size == kDeleteSize) return 1;
        const StoredContent::Source read = [&, bytes = RecordBytes(source, record)](uint8_t* buffer,
                                                                                    std::size_t size) mutable {
          return !stopping && (cancel == nullptr || !cancel->cancelled()) && bytes(buffer, size);
        };
        return checkers[worker].Verify(read, record.storedSize, record.size, record.digest) ? 1 : 0;
      },
      cancel);
  std::optional<std::size_t> first = records.size();
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::optional<uint8_t> right = pool.Take(i);
    if (!right) {
      first.reset();
      break;
    }
    if (*right == 0) {
      first = i;
      break;
    }
  }
  stopping = true;
  return first;
}

}  // namespace

int32_t ClientArchiveSet::ApplyPackage(const std::u16string& path) {
  platform::File file;
  if (file.Open(path, platform::FileMode::kRead) != 0) return -1;
  BusyScope busyScope(busy);
  const int32_t result = ApplyPackageFile(file, path);
  // Let go before `busy` drops: whoever waits for it may open the package again.
  file.Close();
  return result;
}

int32_t ClientArchiveSet::ApplyPackageFile(platform::File& file, const std::u16string& path) {
  FilePackageSource fileSource(file);
  SharedPackageSource source(fileSource);

  PackageHeader header;
  if (!ReadPackageHeader(source, &header)) {
    Log::Error(u"Damaged package: %s", path);
    return -1;
  }
  if (header.minimumVersion > ReadLocalVersion()) return -2;
  // The whole index is read and judged before any record is applied.
  std::vector<PackageRecord> records;
  if (!ReadPackageIndex(source, header, &records)) {
    Log::Error(u"Damaged package: %s", path);
    return -1;
  }
  for (const PackageRecord& record : records) {
    if (!IsUsableClientPath(record.name)) {
      Log::Error(u"Bad file name in package: %s", record.name);
      return -1;
    }
  }
  const std::size_t count = records.size();
  itemsTotal = count == 0 ? 1 : static_cast<int32_t>(count);
  itemsDone = 0;
  // So is every record's content: damage found halfway would leave a package applied in part.
  const std::optional<std::size_t> wrong = FirstWrongRecord(source, records, checkThreads, cancelToken.get());
  if (!wrong) {
    itemsDone = itemsTotal.load();
    return kApplyCancelled;
  }
  if (*wrong < count) {
    Log::Error(u"Package record does not match: %s", records[*wrong].name);
    return -1;
  }

  std::vector<ListedEntry> entries;
  entries.reserve(count);
  for (const PackageRecord& record : records)
    entries.push_back({record.name, FileInfo{record.digest, record.size, record.storedSize}});
  PackageContentSource content(source, records, path);
  EntryUpdate update(*this, content, EntryErrors{-1, -3, -4});
  std::size_t applied = 0;
  {
    EntryPass pass(*this, entries);
    for (; applied < count && !cancelRequested(); ++applied) {
      const int32_t result = update.Run(applied, entries[applied], pass.Ahead(applied));
      if (result == EntryUpdate::kBrokenOff) break;
      if (result != 0) return result;
      ++itemsDone;
    }
  }
  itemsDone = itemsTotal.load();
  // A version is recorded only for a package applied in full.
  if (applied < count) return kApplyCancelled;
  if (!WriteLocalVersion(header.targetVersion)) return -3;
  return 0;
}
