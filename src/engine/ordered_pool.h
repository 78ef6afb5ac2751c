#pragma once
// Work on the items of a list done ahead of one consumer that takes the results in list
// order: items are started in order, at most `window` items beyond the last one taken, by
// a few worker threads and by the consumer itself while it waits for a result. So
// whatever the consumer does between two items (a download, a store) overlaps with the
// work on the next ones, and a consumer with nothing else to do works too instead of
// waiting; with no worker threads at all it does every item itself, one after the other.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/cancel_token.h"

class OrderedPool {
 public:
  // Does the work of one item and returns its result. `worker` numbers the thread it runs
  // on, so that each can keep buffers of its own: 0 to workers-1 the worker threads,
  // `workers` the consumer. It is to end soon once stopping() is true; its result is then
  // never taken.
  using Job = std::function<uint8_t(std::size_t item, std::size_t worker)>;

  OrderedPool(std::size_t items, std::size_t workers, std::size_t window, Job job, const CancelToken* cancel = nullptr);
  // Stops the workers and joins them; items not yet started are never started.
  ~OrderedPool();
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  // The result of `item`, once it is done, doing items not yet started meanwhile; items
  // are taken in list order, each once. None when the cancel token was set meanwhile.
  std::optional<uint8_t> Take(std::size_t item);

  // True once the pool is being torn down or the cancel token is set.
  bool stopping() const { return stop_.load() || (cancel_ != nullptr && cancel_->cancelled()); }

 private:
  enum class State : uint8_t { kWaiting, kRunning, kDone };

  void Work(std::size_t worker);
  // With the lock held: the next item a thread may start, if any; marks it started.
  std::optional<std::size_t> StartNext();
  // Runs the job of a started item without the lock and records its result.
  void Run(std::unique_lock<std::mutex>& lock, std::size_t item, std::size_t worker);

  const std::size_t window_;
  // The consumer's number for the job.
  std::size_t consumer_ = 0;
  const Job job_;
  const CancelToken* const cancel_;
  std::atomic<bool> stop_{false};

  std::mutex mutex_;
  // Signalled when an item is done, when one is taken (room ahead) and when the pool stops.
  std::condition_variable changed_;
  std::vector<State> states_;
  std::vector<uint8_t> results_;
  // The next item a worker starts, and the number of items taken so far.
  std::size_t next_ = 0;
  std::size_t taken_ = 0;
  std::vector<std::thread> threads_;
};
