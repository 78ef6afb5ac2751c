#include "engine/chunk_fetcher.h"

#include <algorithm>
#include <utility>

ChunkFetcher::ChunkFetcher(std::vector<IndexedChunk> chunks, int connections, const OperationContext& context,
                           Fetch fetch)
    : chunks_(std::move(chunks)),
      context_(context),
      fetch_(std::move(fetch)),
      window_(connections <= 1 ? 0 : 2 * static_cast<std::size_t>(connections)),
      beside_(context.progress()),
      workerContext_(context.cancelToken(), beside_) {
  const std::size_t workers = connections <= 1 ? 0 : std::min<std::size_t>(connections, chunks_.size());
  threads_.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back(&ChunkFetcher::Work, this);
}

ChunkFetcher::~ChunkFetcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void ChunkFetcher::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || next_ >= chunks_.size() || next_ - taken_ < window_; });
    if (stop_ || next_ >= chunks_.size()) return;
    const std::size_t index = next_++;
    lock.unlock();
    Fetched fetched;
    fetched.ok = !context_.cancelled() && fetch_(chunks_[index], workerContext_, &fetched.content);
    lock.lock();
    done_.emplace(index, std::move(fetched));
    changed_.notify_all();
  }
}

bool ChunkFetcher::Take(std::size_t index, std::vector<uint8_t>* content) {
  if (index >= chunks_.size()) return false;
  if (threads_.empty()) return fetch_(chunks_[index], context_, content);
  std::unique_lock<std::mutex> lock(mutex_);
  // A worker that fails sets no stop: every chunk it started ends, found or not.
  changed_.wait(lock, [this, index] { return done_.count(index) != 0; });
  Fetched fetched = std::move(done_.at(index));
  done_.erase(index);
  taken_ = index + 1;
  changed_.notify_all();
  *content = std::move(fetched.content);
  return fetched.ok;
}
