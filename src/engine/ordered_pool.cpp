#include "engine/ordered_pool.h"

#include <chrono>

namespace {

// How often a consumer waiting for an item looks at the cancel token: a cancel ends the
// wait within this, whatever the workers are doing.
constexpr std::chrono::milliseconds kCancelPoll{20};

}  // namespace

OrderedPool::OrderedPool(std::size_t items, std::size_t workers, std::size_t window, Job job, const CancelToken* cancel)
    : window_(window == 0 ? 1 : window),
      job_(std::move(job)),
      cancel_(cancel),
      states_(items, State::kWaiting),
      results_(items, 0) {
  if (workers == 0) workers = 1;
  // No more workers than items: a short list starts no idle threads.
  if (workers > items) workers = items;
  threads_.reserve(workers);
  for (std::size_t worker = 0; worker < workers; ++worker) threads_.emplace_back(&OrderedPool::Work, this, worker);
}

OrderedPool::~OrderedPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

std::optional<uint8_t> OrderedPool::Take(std::size_t item) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Checked first: the result of an item that a cancel broke off is no result.
    if (cancel_ != nullptr && cancel_->cancelled()) return std::nullopt;
    if (states_[item] == State::kDone) break;
    changed_.wait_for(lock, kCancelPoll);
  }
  if (item + 1 > taken_) {
    taken_ = item + 1;
    changed_.notify_all();
  }
  return results_[item];
}

void OrderedPool::Work(std::size_t worker) {
  for (;;) {
    std::size_t item = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_.load() || next_ >= states_.size() || next_ < taken_ + window_; });
      if (stop_.load() || next_ >= states_.size()) return;
      item = next_++;
      states_[item] = State::kRunning;
    }
    // A cancelled pass starts nothing more; the consumer stops taking.
    const uint8_t result = stopping() ? 0 : job_(item, worker);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      results_[item] = result;
      states_[item] = State::kDone;
    }
    changed_.notify_all();
  }
}
