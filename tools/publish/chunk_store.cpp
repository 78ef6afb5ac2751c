#include "chunk_store.h"

#include <optional>
#include <string_view>
#include <system_error>

#include "formats/chunk_index.h"
#include "tree_files.h"

namespace fs = std::filesystem;

fs::path ChunkStorePath(const fs::path& root, const std::string& resource) {
  fs::path path;
  std::string why;
  // The names are made of digits and letters of digests: always a path inside the tree.
  ResourcePath(root, std::u16string(resource.begin(), resource.end()), &path, &why);
  return path;
}

bool ChunkStore::StoreChunk(const uint8_t* data, uint32_t length, const ChunkDigest& digest, StoredFormMaker* maker,
                            uint32_t* storedLength, std::string* why) {
  const fs::path path = ChunkStorePath(root_, ChunkResource(digest));
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
  const fs::path indexPath = ChunkStorePath(root_, ChunkIndexResource(md5));
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

bool PruneChunkStore(const fs::path& root, const std::set<platform::Md5Digest>& kept, ChunkStoreCounts* removed,
                     std::string* why) {
  std::set<fs::path> keep;
  for (const platform::Md5Digest& md5 : kept) {
    const fs::path indexPath = ChunkStorePath(root, ChunkIndexResource(md5));
    std::error_code error;
    if (!fs::exists(indexPath, error)) continue;
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(indexPath, kMaxChunkIndexSize, &bytes, why)) return false;
    const std::optional<ChunkIndex> index =
        ParseChunkIndex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    // Its chunks cannot be told from the others: none is removed.
    if (!index) {
      *why = PathText(indexPath) + " is no chunk index";
      return false;
    }
    keep.insert(indexPath);
    for (const IndexedChunk& chunk : index->chunks) keep.insert(ChunkStorePath(root, ChunkResource(chunk.digest)));
  }
  std::error_code error;
  const fs::path store = root / "chunks";
  if (!fs::is_directory(store, error)) return true;
  // Collected first: removing while iterating is not defined.
  std::vector<fs::path> unreferenced;
  for (auto item = fs::recursive_directory_iterator(store, error); !error && item != fs::recursive_directory_iterator();
       item.increment(error))
    if (item->is_regular_file(error) && keep.count(item->path()) == 0) unreferenced.push_back(item->path());
  if (error) {
    *why = "cannot read " + PathText(store) + ": " + error.message();
    return false;
  }
  for (const fs::path& path : unreferenced) {
    if (!fs::remove(path, error)) continue;
    ++(path.parent_path().filename() == "index" ? removed->indexes : removed->chunks);
  }
  return true;
}
