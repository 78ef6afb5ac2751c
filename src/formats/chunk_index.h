#pragma once
// The chunk index of a large file: its content as content-defined chunks (see content_chunker.h),
// each with its length, the length of its stored form and its digest. The stored form of a chunk
// is a zlib stream when it is shorter than the chunk, otherwise the chunk itself, as with files.
// Text, one field per line:
//
//   solmere-chunk-index 1
//   content 50331648 <32 hex digits>        (the content's length and MD5)
//   chunk 65536 40123 <32 hex digits>       (length, stored length, digest), in content order
//   ...
//
// Lines end with "\n".

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/content_chunker.h"
#include "platform/md5.h"

// Files larger than this get a chunk index.
inline constexpr uint32_t kChunkedFileSize = 1024 * 1024;

// A 4 GiB file of chunks of the least length, each line at most 68 bytes.
inline constexpr std::size_t kMaxChunkIndexSize = 18u * 1024 * 1024;

struct IndexedChunk {
  uint32_t length = 0;
  uint32_t storedLength = 0;
  ChunkDigest digest{};

  bool operator==(const IndexedChunk&) const = default;
};

struct ChunkIndex {
  uint32_t size = 0;
  platform::Md5Digest md5{};
  std::vector<IndexedChunk> chunks;

  bool operator==(const ChunkIndex&) const = default;
};

// Where they lie on the server, named by their contents' digests, so a name never changes its
// bytes: the index of content with an MD5 under "chunks\index\", a chunk's stored form under
// "chunks\" and the first two digits of its digest.
std::string ChunkIndexResource(const platform::Md5Digest& md5);
std::string ChunkResource(const ChunkDigest& digest);

std::string FormatChunkIndex(const ChunkIndex& index);

// The index of a text; none for anything that is not exactly the form above, or whose chunks
// the chunker could not have cut: an empty chunk, one above kMaxChunkSize, one but the last
// below kMinChunkSize, lengths that do not add up to the content's, a stored length of 0 or
// above the chunk's, a text above kMaxChunkIndexSize.
std::optional<ChunkIndex> ParseChunkIndex(std::string_view text);
