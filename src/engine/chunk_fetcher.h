#pragma once
// The chunks a large file's new content lacks, fetched on several connections at once (the
// client's connection takes several requests at a time) ahead of the writer, which takes them
// in the content's order: at internet distance their round trips overlap. Bounded: at most
// twice `connections` chunks fetched and not yet taken, each at most kMaxChunkSize.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "base/operation_context.h"
#include "formats/chunk_index.h"

class ChunkFetcher {
 public:
  // Fetches one chunk's content into `content`; false when it cannot be had whole. Runs on the
  // fetcher's threads, several at once.
  using Fetch =
      std::function<bool(const IndexedChunk& chunk, const OperationContext& context, std::vector<uint8_t>* content)>;

  // Starts fetching `chunks`; with `connections` of 1 or less each is fetched when taken. The
  // workers' bytes count as received beside the operation's transfer. `context` must outlive it.
  ChunkFetcher(std::vector<IndexedChunk> chunks, int connections, const OperationContext& context, Fetch fetch);
  // Stops the fetches not taken and joins the workers.
  ~ChunkFetcher();
  ChunkFetcher(const ChunkFetcher&) = delete;
  ChunkFetcher& operator=(const ChunkFetcher&) = delete;

  // The content of chunk `index`, waited for; taken in order, each once. False when it could not
  // be had (or the operation was cancelled).
  bool Take(std::size_t index, std::vector<uint8_t>* content);

 private:
  struct Fetched {
    bool ok = false;
    std::vector<uint8_t> content;
  };

  void Work();

  const std::vector<IndexedChunk> chunks_;
  const OperationContext& context_;
  const Fetch fetch_;
  const std::size_t window_;
  BytesBeside beside_;
  OperationContext workerContext_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  // The next chunk to start and the next to be taken.
  std::size_t next_ = 0;
  std::size_t taken_ = 0;
  std::map<std::size_t, Fetched> done_;
  std::vector<std::thread> threads_;
};
