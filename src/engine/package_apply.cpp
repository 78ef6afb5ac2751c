// Update packages applied record by record like the file check, with the package as the
// source.
#include "engine/package_apply.h"

#include <atomic>
#include <mutex>
#include <new>
#include <optional>
#include <span>

#include "base/decimal_text.h"
#include "base/log.h"
#include "engine/busy_flag.h"
#include "engine/client_archives.h"
#include "engine/client_path.h"
#include "engine/entry_update.h"
#include "engine/ordered_pool.h"
#include "engine/record_pass.h"
#include "formats/update_package.h"
#include "platform/file.h"

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
// points, or its content as the pass made it ready.
class PackageContentSource final : public ContentSource {
 public:
  PackageContentSource(PackageSource& source, const std::vector<PackageRecord>& records, const std::u16string& path,
                       const RecordPass& pass)
      : source_(source), records_(records), path_(path), pass_(pass) {}

  // Every record's content was checked before the first was applied.
  bool Stored(std::size_t index, const ListEntry&, StoredForm* stored) override {
    const PackageRecord& record = records_[index];
    stored->length = record.storedSize;
    stored->pieces = [this, offset = uint64_t{record.dataOffset}](uint32_t count) mutable -> const uint8_t* {
      try {
        if (piece_.size() < count) piece_.resize(count);
      } catch (const std::bad_alloc&) {
        piece_.clear();
      }
      if (piece_.size() < count || !source_.ReadAt(offset, piece_.data(), count)) {
        Log::Error(u"Damaged package: %s", path_);
        return nullptr;
      }
      offset += count;
      return piece_.data();
    };
    return true;
  }
  bool Prepare(std::size_t, const ListEntry&) override { return true; }
  bool Content(std::size_t index, const ListEntry&, const StoredContent::Sink& sink) override {
    if (const std::optional<std::span<const uint8_t>> ready = pass_.Ready(index))
      return !sink || ready->empty() || sink(ready->data(), ready->size());
    const PackageRecord& record = records_[index];
    return checker_.Verify(RecordBytes(source_, record), record.storedSize, record.size, record.digest, sink);
  }
  void ReportWrongContent(std::size_t index, const ListEntry&) override {
    // Checked before anything was applied: the package changed under us.
    Log::Error(u"Package record does not match: %s", records_[index].name);
  }

 private:
  PackageSource& source_;
  const std::vector<PackageRecord>& records_;
  const std::u16string& path_;
  const RecordPass& pass_;
  // Reused from record to record: a piece of stored bytes on its way into an archive.
  std::vector<uint8_t> piece_;
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

const char16_t* ApplyOutcomeText(ApplyResult::Outcome outcome) {
  switch (outcome) {
    case ApplyResult::Outcome::kApplied:
      return u"applied";
    case ApplyResult::Outcome::kCancelled:
      return u"cancelled";
    case ApplyResult::Outcome::kCannotOpen:
      return u"cannot be opened";
    case ApplyResult::Outcome::kDamaged:
      return u"damaged";
    case ApplyResult::Outcome::kVersionTooLow:
      return u"client below the package's minimum version";
    case ApplyResult::Outcome::kNotNewer:
      return u"the package leads to no version above the client's";
    case ApplyResult::Outcome::kArchiveFailed:
      return u"an archive could not be written";
    case ApplyResult::Outcome::kFileFailed:
      return u"a file could not be written";
    case ApplyResult::Outcome::kVersionFailed:
      return u"the client version could not be stored";
    case ApplyResult::Outcome::kUnverified:
      return u"the package is named by no signed release";
  }
  return u"?";
}

namespace {

ApplyResult Refused(ApplyResult::Outcome outcome, std::u16string record = {}) {
  ApplyResult result;
  result.outcome = outcome;
  result.record = std::move(record);
  return result;
}

// ApplyPackage once the package file is open.
ApplyResult ApplyPackageFile(ClientArchives& archives, const ClientLayout& layout, const PassSettings& settings,
                             const OperationContext& context, platform::File& file, const std::u16string& path,
                             std::optional<int32_t> expectedTarget) {
  FilePackageSource fileSource(file);
  SharedPackageSource source(fileSource);

  PackageHeader header;
  if (!ReadPackageHeader(source, &header)) {
    Log::Error(u"Damaged package: %s", path);
    return Refused(ApplyResult::Outcome::kDamaged);
  }
  const int32_t clientVersion = archives.ReadLocalVersion();
  const auto versionRefusal = [&](ApplyResult::Outcome outcome) {
    ApplyResult result = Refused(outcome);
    result.minimumVersion = header.minimumVersion;
    result.clientVersion = clientVersion;
    result.targetVersion = header.targetVersion;
    return result;
  };
  if (header.minimumVersion > clientVersion) return versionRefusal(ApplyResult::Outcome::kVersionTooLow);
  // A package that leads down (or nowhere) would record a version below files it never
  // restores; one beyond any release would leave nothing the server can lead on from.
  if (header.targetVersion <= clientVersion || header.targetVersion > kMaxVersion) {
    Log::Error(u"Update package %s leads to version %d, the client is at %d: not applied", path, header.targetVersion,
               clientVersion);
    return versionRefusal(ApplyResult::Outcome::kNotNewer);
  }
  if (expectedTarget && header.targetVersion != *expectedTarget) {
    Log::Error(u"Update package %s leads to version %d, not to %d as the server's list says", path,
               header.targetVersion, *expectedTarget);
    return versionRefusal(ApplyResult::Outcome::kDamaged);
  }
  // The whole index is read and judged before any record is applied.
  std::vector<PackageRecord> records;
  if (!ReadPackageIndex(source, header, &records)) {
    Log::Error(u"Damaged package: %s", path);
    return Refused(ApplyResult::Outcome::kDamaged);
  }
  for (const PackageRecord& record : records) {
    if (!IsUsableClientPath(record.name)) {
      Log::Error(u"Bad file name in package: %s", record.name);
      return Refused(ApplyResult::Outcome::kDamaged, record.name);
    }
  }
  std::vector<ListEntry> entries;
  entries.reserve(records.size());
  for (const PackageRecord& record : records)
    entries.push_back({record.name, FileInfo{record.digest, record.size, record.storedSize}});
  if (const std::optional<std::size_t> conflict = FirstConflictingEntry(entries, true)) {
    Log::Error(u"The package names one file twice: %s", records[*conflict].name);
    return Refused(ApplyResult::Outcome::kDamaged, records[*conflict].name);
  }
  const std::size_t count = records.size();
  ProgressSink& progress = context.progress();
  progress.StartItems(count == 0 ? 1 : static_cast<int32_t>(count));
  // So is every record's content: damage found halfway would leave a package applied in part.
  const std::optional<std::size_t> wrong = FirstWrongRecord(source, records, settings.threads, context.cancelToken());
  if (!wrong) {
    progress.FinishItems();
    return Refused(ApplyResult::Outcome::kCancelled);
  }
  if (*wrong < count) {
    Log::Error(u"Package record does not match: %s", records[*wrong].name);
    return Refused(ApplyResult::Outcome::kDamaged, records[*wrong].name);
  }

  ApplyResult result;
  result.targetVersion = header.targetVersion;
  std::size_t applied = 0;
  {
    RecordPass pass(archives, layout, source, records, entries, settings, context);
    PackageContentSource content(source, records, path, pass);
    EntryUpdate update(archives, layout, content, context);
    for (; applied < count && !context.cancelled(); ++applied) {
      const EntryOutcome outcome = update.Run(applied, entries[applied], pass.Ahead(applied));
      if (outcome.kind == EntryOutcome::Kind::kStored) ++result.filesStored;
      if (outcome.kind == EntryOutcome::Kind::kBrokenOff) break;
      if (!outcome.handled()) {
        switch (outcome.kind) {
          case EntryOutcome::Kind::kWrongContent:
            // Checked before anything was applied: the package changed under us.
            result.outcome = ApplyResult::Outcome::kDamaged;
            result.record = entries[applied].name;
            break;
          case EntryOutcome::Kind::kArchiveFailed:
            result.outcome = ApplyResult::Outcome::kArchiveFailed;
            result.archive = outcome.archive;
            result.archiveResult = outcome.archiveResult;
            break;
          default:
            result.outcome = ApplyResult::Outcome::kFileFailed;
            result.file = outcome.file;
            break;
        }
        result.diskFull = outcome.diskFull;
        return result;
      }
      progress.ItemDone();
    }
  }
  progress.FinishItems();
  // A version is recorded only for a package applied in full.
  if (applied < count) {
    result.outcome = ApplyResult::Outcome::kCancelled;
    return result;
  }
  const WriteResult stored = archives.WriteLocalVersion(header.targetVersion);
  if (!stored.written()) {
    result.outcome = ApplyResult::Outcome::kVersionFailed;
    result.version = stored;
  }
  return result;
}

}  // namespace

ApplyResult ApplyPackage(ClientArchives& archives, const ClientLayout& layout, BusyFlag& busy,
                         const PassSettings& settings, const OperationContext& context, const std::u16string& path,
                         std::optional<int32_t> expectedTarget) {
  platform::File file;
  ApplyResult result;
  if (file.Open(path, platform::FileMode::kRead) != 0) {
    result = Refused(ApplyResult::Outcome::kCannotOpen);
  } else {
    BusyScope busyScope(busy);
    result = ApplyPackageFile(archives, layout, settings, context, file, path, expectedTarget);
    // Let go before `busy` drops: whoever waits for it may open the package again.
    file.Close();
  }
  result.package = path;
  return result;
}
