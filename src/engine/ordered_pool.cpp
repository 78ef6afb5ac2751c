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
  // No more workers than items beyond the consumer's: a short list starts no idle threads.
  if (workers >= items) workers = items == 0 ? 0 : items - 1;
  consumer_ = workers;
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
  if (item + 1 > taken_) {
    taken_ = item + 1;
    // Room ahead for the workers.
    changed_.notify_all();
  }
  for (;;) {
    // Checked first: the result of an item that a cancel broke off is no result.
    if (cancel_ != nullptr && cancel_->cancelled()) return std::nullopt;
    if (states_[item] == State::kDone) return results_[item];
    if (const std::optional<std::size_t> next = StartNext()) {
      Run(lock, *next, consumer_);
      continue;
    }
    changed_.wait_for(lock, kCancelPoll);
  }
}

std::optional<std::size_t> OrderedPool::StartNext() {
  // Up to `window_` items beyond the one being taken.
  if (stop_.load() || next_ >= states_.size() || next_ >= taken_ + window_) return std::nullopt;
  states_[next_] = State::kRunning;
  return next_++;
}

void OrderedPool::Run(std::unique_lock<std::mutex>& lock, std::size_t item, std::size_t worker) {
  lock.unlock();
  // A cancelled pass starts nothing more; the consumer stops taking.
  const uint8_t result = stopping() ? 0 : job_(item, worker);
  lock.lock();
  results_[item] = result;
  states_[item] = State::kDone;
  changed_.notify_all();
}

void OrderedPool::Work(std::size_t worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_.load()) {
    if (const std::optional<std::size_t> next = StartNext()) {
      Run(lock, *next, worker);
    } else {
      changed_.wait(lock);
    }
  }
}
