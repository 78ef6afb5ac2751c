#pragma once
// Work on numbered items spread over several threads: the calling thread and up to
// jobs - 1 more. Items are handed out in ascending order; each thread makes its own
// state once and reuses it for every item it takes, so buffers and zlib state are set
// up per thread, not per item.

#include <atomic>
#include <cstddef>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

// Calls work(state, index) for the indexes 0..count-1 until every index is taken or a call
// returns false; every index taken before that call returned is still worked to its end.
// Returns once all threads have ended. work must not throw (it runs on threads whose
// entry an exception must not cross). A thread that cannot be started leaves its share to
// the others.
template <typename State, typename Work>
void RunJobs(std::size_t count, unsigned jobs, Work work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopped{false};
  const auto worker = [&]() noexcept {
    State state;
    while (!stopped.load(std::memory_order_relaxed)) {
      const std::size_t index = next.fetch_add(1, std::memory_order_relaxed);
      if (index >= count) return;
      if (!work(state, index)) stopped.store(true, std::memory_order_relaxed);
    }
  };
  std::vector<std::jthread> threads;
  try {
    for (std::size_t i = 1; i < jobs && i < count; ++i) threads.emplace_back(worker);
  } catch (const std::system_error&) {
    // No more threads: those started and this one share the items.
  } catch (const std::bad_alloc&) {
    // Likewise.
  }
  worker();
  // The threads join here.
}
