#include "engine/entry_pass.h"

#include <algorithm>
#include <string>
#include <thread>
#include <unordered_map>

#include "engine/client_path.h"

namespace {

// Entries the workers may run ahead of the operation: enough to keep them busy through
// a long download, few enough that little is thrown away when a pass ends early.
constexpr std::size_t kWindow = 256;

}  // namespace

int PassSettings::DefaultThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(cores, 1u, 4u));
}

std::vector<bool> CheckableAhead(const std::vector<ListEntry>& entries) {
  std::unordered_map<std::u16string, std::size_t> reaching;
  reaching.reserve(entries.size());
  for (const ListEntry& entry : entries) ++reaching[TargetKey(entry.name)];
  std::vector<bool> ahead(entries.size(), false);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ListEntry& entry = entries[i];
    ahead[i] = entry.info.size != kDeleteSize && IsUsableClientPath(entry.name) && reaching[TargetKey(entry.name)] == 1;
  }
  return ahead;
}

EntryPass::EntryPass(ClientArchives& archives, const ClientLayout& layout, const std::vector<ListEntry>& entries,
                     const PassSettings& settings, const OperationContext& context, CheckedHook checked)
    : entries_(entries), ahead_(CheckableAhead(entries)) {
  // The operation's own thread checks too, while it waits for the next entry's answer.
  std::size_t workers = settings.threads <= 1 ? 0 : static_cast<std::size_t>(settings.threads) - 1;
  if (checked) workers = std::max<std::size_t>(workers, 1);
  for (std::size_t i = 0; i <= workers; ++i) {
    checks_.push_back(std::make_unique<TargetCheck>(
        archives, layout, [this, &context] { return stopping_.load() || context.cancelled(); }));
  }
  pool_ = std::make_unique<OrderedPool>(
      entries.size(), workers, kWindow,
      [this, onCheckedAhead = settings.onCheckedAhead, checked = std::move(checked)](std::size_t item,
                                                                                     std::size_t worker) {
        const TargetState state = ahead_[item] ? checks_[worker]->Run(entries_[item]) : TargetState::kUnknown;
        if (ahead_[item] && onCheckedAhead) onCheckedAhead(entries_[item].name);
        if (checked) checked(item, state);
        return static_cast<uint8_t>(state);
      },
      context.cancelToken());
}

EntryPass::~EntryPass() {
  stopping_ = true;
  pool_.reset();
}

TargetState EntryPass::Ahead(std::size_t index) {
  const std::optional<uint8_t> state = pool_->Take(index);
  return state ? static_cast<TargetState>(*state) : TargetState::kBrokenOff;
}
