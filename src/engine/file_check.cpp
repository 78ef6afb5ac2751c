#include "engine/file_check.h"

#include <optional>
#include <utility>
#include <vector>

#include "base/log.h"
#include "engine/chunked_download.h"
#include "engine/client_path.h"
#include "engine/download_ahead.h"
#include "engine/entry_update.h"
#include "engine/large_file_download.h"
#include "engine/server_protocol.h"

namespace {

// New content from the update server: the stored form under "files\" + the path, received
// whole, made ahead on another connection or now (DownloadAhead); a large one into a file that a
// later run can take up (LargeFileDownload).
class ServerSource final : public ContentSource {
 public:
  ServerSource(DownloadAhead& downloads, ServerProtocol& server, ClientArchives& archives, const ClientLayout& layout,
               int connections, const OperationContext& context)
      : server_(server),
        downloads_(downloads),
        large_(server.mirrors(), layout),
        chunked_(server.mirrors(), server.verifier(), archives, layout, connections),
        context_(context) {}

  bool Stored(std::size_t index, const ListEntry& entry, StoredForm* stored) override {
    const bool ready = (Prepare(index, entry) && Content(index, entry, nullptr)) ||
                       (Retry(index, entry) && Content(index, entry, nullptr));
    if (!ready || (IsLarge(entry) && !large_.Rewind())) {
      ReportWrongContent(index, entry);
      return false;
    }
    if (IsLarge(entry)) {
      stored->length = large_.length();
      stored->pieces = [this](uint32_t count) { return large_.NextPiece(count); };
      return true;
    }
    stored->length = static_cast<uint32_t>(received_.size());
    stored->pieces = [next = received_.data()](uint32_t count) mutable { return std::exchange(next, next + count); };
    return true;
  }
  bool Prepare(std::size_t index, const ListEntry& entry) override {
    if (retried_ == index) return true;
    if (IsLarge(entry)) {
      const std::u16string resource = DownloadAhead::ResourceOf(entry);
      return downloads_.TakeWith(index, [&] { return FetchLarge(entry, resource); }).complete();
    }
    const FetchResult fetched = downloads_.Take(index, received_, &failure_);
    return fetched.complete();
  }
  bool Content(std::size_t, const ListEntry& entry, const StoredContent::Sink& sink) override {
    if (IsLarge(entry)) return large_.Verify(entry, sink);
    return checker_.Verify(received_.data(), received_.size(), entry.info.size, entry.info.digest, sink);
  }
  void ReportWrongContent(std::size_t, const ListEntry& entry) override {
    // A cancel that ended the download is no failure of the server's.
    if (!context_.cancelled()) Log::Error(u"Can't get file from server: %s", DownloadAhead::ResourceOf(entry));
  }

  // A file of the release keeps its name while its bytes change: a cache may hand out a copy of
  // another release's. Asked for once more with a query naming the release, which a cache keys
  // on and a static server ignores. (A large file comes from chunks or through its own download.)
  bool Retry(std::size_t index, const ListEntry& entry) override {
    const int32_t release = server_.release();
    if (IsLarge(entry) || retried_ == index || release <= 0 || context_.cancelled()) return false;
    // A download that failed is tried again only when it was longer than the listed file:
    // another release's copy. The others (a server down, an error) a second request would not mend.
    if (failure_.failure != FetchFailure::kNone && failure_.failure != FetchFailure::kTooLarge) return false;
    const std::u16string resource = DownloadAhead::ResourceOf(entry);
    Log::Error(u"%s does not match the list: asked for again past caches", resource);
    retried_ = index;
    UpdateServerClient& client = server_.client();
    const FetchResult fetched =
        client.FetchToBuffer(resource, received_, context_, entry.info.size, false, ReleaseQuery(release));
    failure_ = fetched.complete() ? FailedRequest{} : client.FailureOf(resource, fetched);
    return fetched.complete();
  }

  // The last download, when it failed.
  const FailedRequest& failure() const { return failure_; }

 private:
  static bool IsLarge(const ListEntry& entry) { return entry.info.size > LargeFileDownload::kMinSize; }

  // Made of chunks where the server has them, otherwise downloaded whole.
  FetchResult FetchLarge(const ListEntry& entry, const std::u16string& resource) {
    FetchResult made;
    if (chunked_.Prepare(entry, context_) &&
        large_.Make([&](platform::File& file) { return chunked_.Assemble(entry, file, context_); }, entry.info.size)) {
      failure_ = {};
      made.received = static_cast<int32_t>(entry.info.size);
      made.declared = entry.info.size;
      return made;
    }
    if (context_.cancelled()) {
      made.failure = FetchFailure::kCancelled;
      return made;
    }
    return large_.Fetch(entry, resource, context_, &failure_);
  }

  ServerProtocol& server_;
  DownloadAhead& downloads_;
  LargeFileDownload large_;
  ChunkedDownload chunked_;
  const OperationContext& context_;
  // Reused from entry to entry.
  std::vector<uint8_t> received_;
  StoredContent checker_;
  FailedRequest failure_;
  // The entry whose stored form Retry got: Prepare takes no download for it again.
  std::optional<std::size_t> retried_;
};

}  // namespace

FileCheck::FileCheck(ClientArchives& archives, const ClientLayout& layout, ServerProtocol& server)
    : archives_(archives), layout_(layout), server_(server) {}

CheckResult FileCheck::Run(const OperationContext& context, const PassSettings& settings, bool resume) {
  ProgressSink& progress = context.progress();
  if (!resume)
    progress.StartItems(table_.empty() ? 1 : static_cast<int32_t>(std::min<std::size_t>(table_.size(), INT32_MAX)));
  // The table's order, taken once: entries leave the table as they are handled.
  std::vector<FileTable::iterator> positions;
  std::vector<ListEntry> entries;
  positions.reserve(table_.size());
  entries.reserve(table_.size());
  for (auto entry = table_.begin(); entry != table_.end(); ++entry) {
    positions.push_back(entry);
    entries.push_back({entry->first, entry->second});
  }
  CheckResult result;
  // Whatever the pass did, one of them would not be as listed, yet the pass would end done.
  if (const std::optional<std::size_t> conflict = FirstConflictingEntry(entries, false)) {
    Log::Error(u"The list names one file twice: %s", entries[*conflict].name);
    result.outcome = CheckResult::Outcome::kConflict;
    result.path = entries[*conflict].name;
    return result;
  }
  DownloadAhead downloads(server_.mirrors(), entries, settings.connections, context);
  ServerSource source(downloads, server_, archives_, layout_, settings.connections, context);
  EntryUpdate update(archives_, layout_, source, context);
  {
    EntryPass pass(archives_, layout_, entries, settings, context,
                   [&downloads](std::size_t index, TargetState state) { downloads.Checked(index, state); });
    for (std::size_t i = 0; i < entries.size() && !context.cancelled(); ++i) {
      const ListEntry& entry = entries[i];
      // Paths come from the server: one that could leave the client folder, or that names
      // an archive's own file, is never used.
      if (!IsUsableClientPath(entry.name)) {
        Log::Error(u"Bad file name in list: %s", entry.name);
        result.outcome = CheckResult::Outcome::kBadPath;
        result.path = entry.name;
        return result;
      }
      const EntryOutcome outcome = update.Run(i, entry, pass.Ahead(i));
      if (outcome.kind == EntryOutcome::Kind::kStored) ++result.filesStored;
      // A cancel that ended a running download leaves its entry for a later run.
      if (outcome.kind == EntryOutcome::Kind::kBrokenOff || (!outcome.handled() && context.cancelled())) break;
      if (!outcome.handled()) {
        result.path = entry.name;
        switch (outcome.kind) {
          case EntryOutcome::Kind::kWrongContent:
            result.outcome = CheckResult::Outcome::kDownloadFailed;
            result.request = source.failure();
            break;
          case EntryOutcome::Kind::kArchiveFailed:
            result.outcome = CheckResult::Outcome::kArchiveFailed;
            result.archive = outcome.archive;
            result.archiveResult = outcome.archiveResult;
            break;
          default:
            result.outcome = CheckResult::Outcome::kFileFailed;
            result.file = outcome.file;
            break;
        }
        result.diskFull = outcome.diskFull;
        return result;
      }
      progress.ItemDone();
      table_.erase(positions[i]);
    }
  }
  table_.rehash(0);
  if (context.cancelled()) {
    result.outcome = CheckResult::Outcome::kCancelled;
    return result;
  }
  progress.FinishItems();
  return result;
}
