#pragma once
// The pass over an update package's records once every one of them has checked out: the
// one writer stores them in package order (EntryUpdate), while worker threads make the
// records after it ready (PassSettings::threads threads in all, the writer's own among
// them while it waits for an answer). For each record its target is compared with the
// record's content (ExpectedContent: a target that differs is told at its first bytes),
// and the content of a plain file's record of at most PassSettings::readyContentLimit
// bytes is inflated and checked against its digest into memory, so that the writer only
// writes it. What the pass does and reports is the same as without the workers.
//
// Targets are checked ahead by EntryPass's rule (CheckableAhead). The content made ready
// lives in a ring of buffers, one for each record of the window ahead and one for the
// record being written, reused from record to record: memory for a few records, not for
// the package.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/operation_context.h"
#include "engine/entry_pass.h"
#include "engine/ordered_pool.h"
#include "engine/stored_content.h"
#include "engine/target_check.h"
#include "formats/update_package.h"

class ClientArchives;
class ClientLayout;

class RecordPass {
 public:
  // Starts the workers (none for one thread). `entries` are the records as list entries,
  // in the same order. Everything given must outlive the pass; `source` is read by several
  // threads at once. The context's cancel stops the workers.
  RecordPass(ClientArchives& archives, const ClientLayout& layout, PackageSource& source,
             const std::vector<PackageRecord>& records, const std::vector<ListEntry>& entries,
             const PassSettings& settings, const OperationContext& context);
  // Stops the workers, also in the middle of a record, and joins them.
  ~RecordPass();
  RecordPass(const RecordPass&) = delete;
  RecordPass& operator=(const RecordPass&) = delete;

  // What the workers found of the target of record `index`, waiting for it; taken in
  // package order. kUnknown: the writer checks it itself. kBrokenOff: cancelled.
  TargetState Ahead(std::size_t index);
  // After Ahead(index): the record's content when it was made ready and checked; none
  // otherwise. Valid until the next Ahead.
  std::optional<std::span<const uint8_t>> Ready(std::size_t index) const;

 private:
  struct Worker;
  struct Slot {
    // The record whose content the slot holds, if any.
    std::optional<std::size_t> record;
    std::size_t length = 0;
    // Grown as records need, never shrunk.
    std::vector<uint8_t> bytes;
  };

  // The work on one record ahead; the target's state.
  TargetState Prepare(std::size_t item, Worker& worker);
  // Inflates and checks the record's content into the slot.
  bool Fill(const PackageRecord& record, Worker& worker, Slot& slot);
  // The record's stored bytes read piece by piece from the package, until the pass stops.
  StoredContent::Source Bytes(const PackageRecord& record);
  bool stopping() const { return stopping_.load() || context_.cancelled(); }

  PackageSource& source_;
  const std::vector<PackageRecord>& records_;
  const std::vector<ListEntry>& entries_;
  const OperationContext& context_;
  const uint32_t readyLimit_;
  const std::function<void(const std::u16string& path)> onCheckedAhead_;
  const std::vector<bool> ahead_;
  std::atomic<bool> stopping_{false};
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<Slot> slots_;
  // The record Ahead last answered for.
  std::optional<std::size_t> taken_;
  std::unique_ptr<OrderedPool> pool_;
};
