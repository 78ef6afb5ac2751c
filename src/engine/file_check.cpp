// The file check: every entry of the file table is brought into the state the list
// describes, fetching from the server only what differs.
#include <span>
#include <vector>

#include "base/log.h"
#include "engine/busy_scope.h"
#include "engine/client_archive_set.h"
#include "engine/client_path.h"
#include "engine/entry_pass.h"
#include "engine/entry_update.h"

namespace {

// New content from the update server: the stored form under "files\" + the path, received
// whole, one entry at a time over the server client's one connection.
class ServerSource final : public ContentSource {
 public:
  explicit ServerSource(ClientArchiveSet& set) : set_(set) {}

  bool Stored(std::size_t index, const ListedEntry& entry, std::span<const uint8_t>* stored) override {
    if (!Prepare(index, entry) || !Content(index, entry, nullptr)) {
      ReportWrongContent(index, entry);
      return false;
    }
    *stored = received_;
    return true;
  }
  bool Prepare(std::size_t, const ListedEntry& entry) override {
    return set_.serverClient->FetchToBuffer(ServerPath(entry), received_, set_.cancelToken.get()).complete();
  }
  bool Content(std::size_t, const ListedEntry& entry, const StoredContent::Sink& sink) override {
    return checker_.Verify(received_.data(), received_.size(), entry.info.size, entry.info.digest, sink);
  }
  void ReportWrongContent(std::size_t, const ListedEntry& entry) override {
    // A cancel that ended the download is no failure of the server's.
    if (!set_.cancelRequested()) Log::Error(u"Can't get file from server: %s", ServerPath(entry));
  }

 private:
  static std::u16string ServerPath(const ListedEntry& entry) { return u"files\\" + entry.path; }

  ClientArchiveSet& set_;
  // Reused from entry to entry.
  std::vector<uint8_t> received_;
  StoredContent checker_;
};

}  // namespace

int32_t ClientArchiveSet::CheckFiles(bool resume) {
  BusyScope busyScope(busy);
  if (!resume) {
    itemsTotal = fileTable.empty() ? 1 : static_cast<int32_t>(std::min<std::size_t>(fileTable.size(), INT32_MAX));
    itemsDone = 0;
  }
  const int32_t result = ProcessFileTable();
  if (result == 0) itemsDone = itemsTotal.load();
  return result;
}

int32_t ClientArchiveSet::ProcessFileTable() {
  // The table's order, taken once: entries leave the table as they are handled.
  std::vector<FileTable::iterator> positions;
  std::vector<ListedEntry> entries;
  positions.reserve(fileTable.size());
  entries.reserve(fileTable.size());
  for (auto entry = fileTable.begin(); entry != fileTable.end(); ++entry) {
    positions.push_back(entry);
    entries.push_back({entry->first, entry->second});
  }
  ServerSource source(*this);
  EntryUpdate update(*this, source, EntryErrors{-1, -2, -3});
  {
    EntryPass pass(*this, entries);
    for (std::size_t i = 0; i < entries.size() && !cancelRequested(); ++i) {
      // Paths come from the server: one that could leave the client folder, or that names
      // an archive's own file, is never used.
      if (!IsUsableClientPath(entries[i].path)) {
        Log::Error(u"Bad file name in list: %s", entries[i].path);
        return -3;
      }
      const int32_t result = update.Run(i, entries[i], pass.Ahead(i));
      // A cancel that ended a running download leaves its entry for a later run.
      if (result != 0) return result == EntryUpdate::kBrokenOff || cancelRequested() ? 0 : result;
      ++itemsDone;
      fileTable.erase(positions[i]);
    }
  }
  fileTable.rehash(0);
  return 0;
}
