#pragma once
// A pass over the entries of a file list: the operation handles the entries one after the
// other in list order (EntryUpdate: downloads, stores, deletions, log lines, counters),
// while worker threads read, inflate and hash the targets of the entries after it
// (PassSettings::threads threads in all, the operation's own among them: it checks targets
// too while it waits for an answer). What the pass does and reports is the same as without
// the workers; they only have the answers ready. An update package's records have a pass
// of their own by the same rule (RecordPass).
//
// A target is checked ahead only when no other entry of the pass reaches it (two names
// can reach one archive entry or one file: letter case, "/" or "\"): such entries are
// checked by the operation itself when their turn comes, after whatever the entries
// before them changed. So no worker ever reads what the operation changes meanwhile.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/operation_context.h"
#include "engine/ordered_pool.h"
#include "engine/target_check.h"

class ClientArchives;
class ClientLayout;

struct PassSettings {
  // Threads that read and hash targets, the operation's own among them; 1 checks one entry
  // after the other.
  int threads = DefaultThreads();
  // Called on a checking thread for each entry whose target it checked ahead, with the
  // entry's path: for tests that need to see how far ahead the check runs.
  std::function<void(const std::u16string& path)> onCheckedAhead;
  // Update packages: a plain file's record of at most this much content is inflated and
  // checked ahead into memory, for the writer to write at once; a larger one is inflated
  // as it is written.
  uint32_t readyContentLimit = 4u << 20;
  // File passes: downloads at most this many at once, each on a connection of its own
  // (see DownloadAhead).
  int connections = kDefaultConnections;

  static constexpr int kDefaultConnections = 4;

  // One per core: reading, inflating and hashing keep a core busy each. More than four
  // would wait for the disk.
  static int DefaultThreads();
};

// For each entry, whether its target may be checked ahead: a usable path that no other
// entry of the pass reaches, and no deletion.
std::vector<bool> CheckableAhead(const std::vector<ListEntry>& entries);

class EntryPass {
 public:
  // Told, on the thread that did it, what the check ahead found of an entry's target, ahead
  // of the entry's turn (kUnknown: the entry is not checked ahead).
  using CheckedHook = std::function<void(std::size_t index, TargetState state)>;

  // Starts the workers (none for one thread). Everything given must outlive the pass; the
  // context's cancel stops the workers. A pass with a `checked` hook is told of every entry
  // in turn and checks ahead on one worker at least.
  EntryPass(ClientArchives& archives, const ClientLayout& layout, const std::vector<ListEntry>& entries,
            const PassSettings& settings, const OperationContext& context, CheckedHook checked = nullptr);
  // Stops the workers, also in the middle of a target, and joins them.
  ~EntryPass();
  EntryPass(const EntryPass&) = delete;
  EntryPass& operator=(const EntryPass&) = delete;

  // What the workers found of the target of entry `index`, waiting for it; taken in
  // list order. kUnknown: the operation checks it itself. kBrokenOff: cancelled.
  TargetState Ahead(std::size_t index);

 private:
  const std::vector<ListEntry>& entries_;
  // Whether the workers check the entry's target.
  std::vector<bool> ahead_;
  std::atomic<bool> stopping_{false};
  std::vector<std::unique_ptr<TargetCheck>> checks_;
  std::unique_ptr<OrderedPool> pool_;
};
