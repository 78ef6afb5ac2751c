#pragma once
// Content-defined chunking: content is cut where a rolling hash of its last bytes meets a
// condition, so an insertion or a removal moves only the boundaries near it, and the chunks
// elsewhere stay the same bytes with the same digests. The hash is FastCDC's gear hash, with its
// normalised chunking: no cut in the first kMinChunkSize bytes of a chunk, a strict condition
// up to kAverageChunkSize, a loose one after it, and a cut at kMaxChunkSize whatever the bytes.
// publish and the updater must cut alike: a change to the parameters or to the gear table
// changes every boundary.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

inline constexpr uint32_t kMinChunkSize = 16 * 1024;
inline constexpr uint32_t kAverageChunkSize = 64 * 1024;
inline constexpr uint32_t kMaxChunkSize = 256 * 1024;

// A chunk's strong digest: BLAKE2b of its content, 16 bytes.
using ChunkDigest = std::array<uint8_t, 16>;
ChunkDigest DigestOfChunk(const uint8_t* data, std::size_t size);

class ContentChunker {
 public:
  // Told the length of each chunk as it ends.
  using ChunkEnd = std::function<void(uint32_t length)>;

  // The next bytes of the content, in any pieces: the boundaries do not depend on them.
  void Feed(const uint8_t* data, std::size_t size, const ChunkEnd& end);
  // The content ended: its last chunk, when bytes are left. The chunker can then cut new content.
  void Finish(const ChunkEnd& end);

 private:
  uint64_t hash_ = 0;
  // Bytes of the chunk under way.
  uint32_t length_ = 0;
};
