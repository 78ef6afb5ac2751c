#include "engine/record_pass.h"

#include <cstring>
#include <new>

#include "archive/archive_names.h"
#include "engine/stored_comparison.h"
#include "engine/stored_content.h"

namespace {

// Records made ready ahead of the writer for each thread: enough that a slow write (a sync)
// leaves the workers something to do, few enough that little memory waits.
constexpr std::size_t kWindowPerThread = 2;

// Content made ready, compared with a target as it is read.
class ReadyComparison final : public ExpectedContent {
 public:
  explicit ReadyComparison(std::span<const uint8_t> content) : content_(content) {}
  bool Next(const uint8_t* data, std::size_t count) override {
    if (count > content_.size() - done_ || std::memcmp(content_.data() + done_, data, count) != 0) return false;
    done_ += count;
    return true;
  }

 private:
  std::span<const uint8_t> content_;
  std::size_t done_ = 0;
};

}  // namespace

struct RecordPass::Worker {
  Worker(ClientArchives& archives, const ClientLayout& layout, std::function<bool()> stopped)
      : check(archives, layout, std::move(stopped)) {}

  TargetCheck check;
  StoredContent content;
  StoredComparison comparison;
};

RecordPass::RecordPass(ClientArchives& archives, const ClientLayout& layout, PackageSource& source,
                       const std::vector<PackageRecord>& records, const std::vector<ListEntry>& entries,
                       const PassSettings& settings, const OperationContext& context)
    : source_(source),
      records_(records),
      entries_(entries),
      context_(context),
      readyLimit_(settings.readyContentLimit),
      onCheckedAhead_(settings.onCheckedAhead),
      ahead_(CheckableAhead(entries)) {
  const std::size_t threads = settings.threads <= 1 ? 1 : static_cast<std::size_t>(settings.threads);
  // The writer's own thread works too, while it waits for the next record's answer.
  const std::size_t workers = threads - 1;
  for (std::size_t i = 0; i <= workers; ++i)
    workers_.push_back(std::make_unique<Worker>(archives, layout, [this] { return stopping(); }));
  // A record started ahead is at most `window` beyond the one being written, whose slot
  // stays its own until the writer asks for the next.
  const std::size_t window = kWindowPerThread * threads;
  slots_.resize(window + 1);
  pool_ = std::make_unique<OrderedPool>(
      records.size(), workers, window,
      [this](std::size_t item, std::size_t worker) { return static_cast<uint8_t>(Prepare(item, *workers_[worker])); },
      context.cancelToken());
}

RecordPass::~RecordPass() {
  stopping_ = true;
  pool_.reset();
}

TargetState RecordPass::Ahead(std::size_t index) {
  taken_.reset();
  const std::optional<uint8_t> state = pool_->Take(index);
  if (!state) return TargetState::kBrokenOff;
  taken_ = index;
  return static_cast<TargetState>(*state);
}

std::optional<std::span<const uint8_t>> RecordPass::Ready(std::size_t index) const {
  const Slot& slot = slots_[index % slots_.size()];
  if (taken_ != index || slot.record != index) return std::nullopt;
  return std::span<const uint8_t>(slot.bytes.data(), slot.length);
}

TargetState RecordPass::Prepare(std::size_t item, Worker& worker) {
  if (!ahead_[item]) return TargetState::kUnknown;
  Slot& slot = slots_[item % slots_.size()];
  slot.record.reset();
  const PackageRecord& record = records_[item];
  if (!ArchiveOfPath(record.name) && record.size <= readyLimit_ && Fill(record, worker, slot)) slot.record = item;

  std::optional<ReadyComparison> ready;
  const StoredContent::Source bytes = Bytes(record);
  ExpectedContent* expected = &worker.comparison;
  if (slot.record == item) {
    expected = &ready.emplace(std::span<const uint8_t>(slot.bytes.data(), slot.length));
  } else {
    worker.comparison.Begin(&bytes, record.storedSize, record.size);
  }
  const TargetState state = worker.check.Run(entries_[item], expected);
  if (onCheckedAhead_) onCheckedAhead_(entries_[item].name);
  return state;
}

bool RecordPass::Fill(const PackageRecord& record, Worker& worker, Slot& slot) {
  try {
    if (slot.bytes.size() < record.size) slot.bytes.resize(record.size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The check never hands on more than the record's size.
  std::size_t filled = 0;
  const StoredContent::Sink copy = [&](const uint8_t* data, std::size_t size) {
    std::memcpy(slot.bytes.data() + filled, data, size);
    filled += size;
    return true;
  };
  if (!worker.content.Verify(Bytes(record), record.storedSize, record.size, record.digest, copy)) return false;
  slot.length = filled;
  return true;
}

StoredContent::Source RecordPass::Bytes(const PackageRecord& record) {
  return [this, offset = uint64_t{record.dataOffset}](uint8_t* buffer, std::size_t size) mutable {
    const bool read = !stopping() && source_.ReadAt(offset, buffer, size);
    offset += size;
    return read;
  };
}
