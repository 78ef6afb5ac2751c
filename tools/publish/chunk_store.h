#pragma once
// The chunks of large files on the server: every file above kChunkedFileSize gets its chunk
// index and the stored form of each of its chunks (see formats/chunk_index.h). Both are named
// by their contents' digests, so what is there already is never written again: chunks shared
// between files and releases are stored once, and the index is written after its chunks, so an
// index that is there has all of them. Several threads may store at once.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "formats/content_chunker.h"
#include "platform/md5.h"
#include "stored_form.h"

class ChunkStore {
 public:
  explicit ChunkStore(std::filesystem::path serverRoot) : root_(std::move(serverRoot)) {}

  // The index of `contents` (with that MD5) and the chunks it lacks; false with the reason
  // when something could not be written.
  bool Store(const std::vector<uint8_t>& contents, const platform::Md5Digest& md5, StoredFormMaker* maker,
             std::string* why);

  uint64_t indexesWritten() const { return indexes_.load(); }
  uint64_t chunksWritten() const { return chunks_.load(); }
  uint64_t chunkBytesWritten() const { return chunkBytes_.load(); }

 private:
  // The stored length of a chunk, writing its stored form when the store lacks it.
  bool StoreChunk(const uint8_t* data, uint32_t length, const ChunkDigest& digest, StoredFormMaker* maker,
                  uint32_t* storedLength, std::string* why);

  const std::filesystem::path root_;
  std::mutex mutex_;
  // Chunks this run has written or found, with their stored lengths.
  std::map<ChunkDigest, uint32_t> known_;
  std::atomic<uint64_t> indexes_{0}, chunks_{0}, chunkBytes_{0};
};

// The file of a resource of the chunk store ("chunks\index\...", "chunks\xx\...") in the tree.
std::filesystem::path ChunkStorePath(const std::filesystem::path& root, const std::string& resource);

struct ChunkStoreCounts {
  uint64_t indexes = 0;
  uint64_t chunks = 0;
};

// Removes from the store every index but those of the `kept` contents and every chunk no kept
// index names. False with the reason, removing nothing, when a kept index cannot be read.
bool PruneChunkStore(const std::filesystem::path& root, const std::set<platform::Md5Digest>& kept,
                     ChunkStoreCounts* removed, std::string* why);
