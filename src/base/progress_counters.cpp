#include "base/progress_counters.h"

ProgressSink& ProgressSink::None() {
  static ProgressSink none;
  return none;
}

void ProgressCounters::StartItems(int32_t total) {
  itemsTotal_ = total;
  itemsDone_ = 0;
}

void ProgressCounters::ItemDone() {
  ++itemsDone_;
}

void ProgressCounters::FinishItems() {
  itemsDone_ = itemsTotal_.load();
}

void ProgressCounters::ClearItems() {
  itemsTotal_ = 0;
  itemsDone_ = 0;
}

void ProgressCounters::TransferStarted(uint32_t length, int32_t reads) {
  transferLength_ = length;
  readsDone_ = 0;
  readsTotal_ = reads;
}

void ProgressCounters::Received(uint32_t bytes) {
  // Reads of a body of unknown length are not counted: no share of it can be shown.
  if (readsTotal_ > 0) ++readsDone_;
  sampleBytes_ += bytes;
  bytesReceived_ += bytes;
}

void ProgressCounters::TransferEnded() {
  readsDone_ = readsTotal_.load();
}

void ProgressCounters::ReceivedBeside(uint32_t bytes) {
  sampleBytes_ += bytes;
  bytesReceived_ += bytes;
}

ProgressCounters::Figures ProgressCounters::Read() const {
  return {itemsTotal_.load(),     itemsDone_.load(),     readsTotal_.load(),     readsDone_.load(),
          transferLength_.load(), bytesReceived_.load(), downloadsAtOnce_.load()};
}

uint32_t ProgressCounters::TakeSampleBytes() {
  return sampleBytes_.exchange(0);
}
