#include "chunk_store.h"

#include <system_error>

#include "formats/chunk_index.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

fs::path PathOf(const fs::path& root, const std::string& resource) {
  fs::path path = root;
  for (std::size_t start = 0;;) {
    const std::size_t end = resource.find('\\', start);
    path /= resource.substr(start, end - start);
    if (end == std::string::npos) return path;
    start = end + 1;
  }
}

}  // namespace

bool ChunkStore::StoreChunk(const uint8_t* data, uint32_t length, const ChunkDigest& digest, StoredFormMaker* maker,
                            uint32_t* storedLength, std::string* why) {
  const fs::path path = PathOf(root_, ChunkResource(digest));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto known = known_.find(digest);
    if (known != known_.end()) {
      *storedLength = known->second;
      return true;
    }
    // Claimed by this thread: another that meets it meanwhile finds it known.
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    if (!error && size > 0 && size <= length) {
      known_.emplace(digest, static_cast<uint32_t>(size));
      *storedLength = static_cast<uint32_t>(size);
      return true;
    }
  }
  const std::vector<uint8_t> chunk(data, data + length);
  const std::vector<uint8_t>* stored = nullptr;
  if (!maker->Make(chunk, &stored)) {
    *why = "cannot compress a chunk";
    return false;
  }
  *storedLength = static_cast<uint32_t>(stored->size());
  std::lock_guard<std::mutex> lock(mutex_);
  // Written under the lock: two threads with the same chunk would share its temporary name.
  if (known_.count(digest) != 0) return true;
  if (!WriteFileAtomically(path, *stored, why)) return false;
  known_.emplace(digest, *storedLength);
  ++chunks_;
  chunkBytes_ += stored->size();
  return true;
}

bool ChunkStore::Store(const std::vector<uint8_t>& contents, const platform::Md5Digest& md5, StoredFormMaker* maker,
                       std::string* why) {
  const fs::path indexPath = PathOf(root_, ChunkIndexResource(md5));
  std::error_code error;
  if (fs::exists(indexPath, error)) return true;
  ChunkIndex index;
  index.size = static_cast<uint32_t>(contents.size());
  index.md5 = md5;
  ContentChunker chunker;
  const ContentChunker::ChunkEnd end = [&index](uint32_t length) { index.chunks.push_back({length, 0, {}}); };
  chunker.Feed(contents.data(), contents.size(), end);
  chunker.Finish(end);
  std::size_t at = 0;
  for (IndexedChunk& chunk : index.chunks) {
    chunk.digest = DigestOfChunk(contents.data() + at, chunk.length);
    if (!StoreChunk(contents.data() + at, chunk.length, chunk.digest, maker, &chunk.storedLength, why)) return false;
    at += chunk.length;
  }
  const std::string text = FormatChunkIndex(index);
  // Under the lock, as a chunk: two files may have the same contents.
  std::lock_guard<std::mutex> lock(mutex_);
  if (fs::exists(indexPath, error)) return true;
  if (!WriteFileAtomically(indexPath, text.data(), text.size(), why)) return false;
  ++indexes_;
  return true;
}
