#include "engine/entry_pass.h"

#include <string>
#include <unordered_map>

#include "engine/client_archive_set.h"
#include "engine/client_path.h"

namespace {

// Entries the workers may run ahead of the operation: enough to keep them busy through
// a long download, few enough that little is thrown away when a pass ends early.
constexpr std::size_t kWindow = 256;

}  // namespace

EntryPass::EntryPass(ClientArchiveSet& set, const std::vector<ListedEntry>& entries)
    : entries_(entries), ahead_(entries.size(), false) {
  std::unordered_map<std::u16string, std::size_t> reaching;
  reaching.reserve(entries.size());
  for (const ListedEntry& entry : entries) ++reaching[TargetKey(entry.path)];
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ListedEntry& entry = entries[i];
    ahead_[i] =
        entry.info.size != kDeleteSize && IsUsableClientPath(entry.path) && reaching[TargetKey(entry.path)] == 1;
  }

  // The operation's own thread checks too, while it waits for the next entry's answer.
  const std::size_t workers = set.checkThreads <= 1 ? 0 : static_cast<std::size_t>(set.checkThreads) - 1;
  for (std::size_t i = 0; i <= workers; ++i) {
    checks_.push_back(
        std::make_unique<TargetCheck>(set, [this, &set] { return stopping_.load() || set.cancelRequested(); }));
  }
  pool_ = std::make_unique<OrderedPool>(
      entries.size(), workers, kWindow,
      [this, &set](std::size_t item, std::size_t worker) {
        if (!ahead_[item]) return static_cast<uint8_t>(TargetState::kUnknown);
        const TargetState state = checks_[worker]->Run(entries_[item]);
        if (set.onCheckedAhead) set.onCheckedAhead(entries_[item].path);
        return static_cast<uint8_t>(state);
      },
      set.cancelToken.get());
}

EntryPass::~EntryPass() {
  stopping_ = true;
  pool_.reset();
}

TargetState EntryPass::Ahead(std::size_t index) {
  const std::optional<uint8_t> state = pool_->Take(index);
  return state ? static_cast<TargetState>(*state) : TargetState::kBrokenOff;
}
