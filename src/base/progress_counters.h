#pragma once
// The progress of the running work as counters that a display reads: a ProgressSink that keeps
// the figures, written by the work's threads and read by the display's.

#include <atomic>
#include <cstdint>

#include "base/progress_sink.h"

class ProgressCounters final : public ProgressSink {
 public:
  struct Figures {
    int32_t itemsTotal = 0;
    int32_t itemsDone = 0;
    // Reads the running transfer is expected to take, and reads done so far.
    int32_t readsTotal = 0;
    int32_t readsDone = 0;
    // The length of the running transfer's body.
    uint32_t transferLength = 0;
    // Body bytes of every transfer so far.
    uint64_t bytesReceived = 0;
    // Downloads running at once.
    int32_t downloadsAtOnce = 0;
  };

  void StartItems(int32_t total) override;
  void ItemDone() override;
  void FinishItems() override;
  void ClearItems() override;
  void TransferStarted(uint32_t length, int32_t reads) override;
  void Received(uint32_t bytes) override;
  void TransferEnded() override;
  void ReceivedBeside(uint32_t bytes) override;
  void DownloadsAtOnce(int32_t count) override { downloadsAtOnce_ = count; }

  // The figures as they are now; each is read atomically, not all of them together.
  Figures Read() const;
  // Bytes received since the last call, for a speed sample.
  uint32_t TakeSampleBytes();

 private:
  std::atomic<int32_t> itemsTotal_{0};
  std::atomic<int32_t> itemsDone_{0};
  std::atomic<int32_t> readsTotal_{0};
  std::atomic<int32_t> readsDone_{0};
  std::atomic<uint32_t> transferLength_{0};
  std::atomic<uint64_t> bytesReceived_{0};
  std::atomic<uint32_t> sampleBytes_{0};
  std::atomic<int32_t> downloadsAtOnce_{0};
};
