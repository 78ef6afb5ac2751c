#include "formats/chunk_index.h"

#include <algorithm>

#include "formats/release_manifest.h"
#include "formats/text_fields.h"

namespace {

constexpr std::string_view kHeader = "solmere-chunk-index 1";

// "NUMBER HEX" of `digits` hexadecimal digits into `number` and `bytes`.
template <std::size_t N>
bool NumberAndDigest(std::string_view fields, uint32_t* number, std::array<uint8_t, N>* bytes) {
  const std::size_t space = fields.find(' ');
  if (space == std::string_view::npos || fields.size() != space + 1 + 2 * N) return false;
  const std::optional<uint32_t> value = WholeNumber<uint32_t>(fields.substr(0, space));
  const std::optional<std::vector<uint8_t>> digest = BytesOfHex(fields.substr(space + 1));
  if (!value || !digest) return false;
  *number = *value;
  std::copy(digest->begin(), digest->end(), bytes->begin());
  return true;
}

}  // namespace

std::string ChunkIndexResource(const platform::Md5Digest& md5) {
  return "chunks\\index\\" + HexText(md5.data(), md5.size());
}

std::string ChunkResource(const ChunkDigest& digest) {
  const std::string hex = HexText(digest.data(), digest.size());
  return "chunks\\" + hex.substr(0, 2) + "\\" + hex;
}

std::string FormatChunkIndex(const ChunkIndex& index) {
  std::string text(kHeader);
  text += "\ncontent " + std::to_string(index.size) + " " + HexText(index.md5.data(), index.md5.size()) + "\n";
  for (const IndexedChunk& chunk : index.chunks)
    text += "chunk " + std::to_string(chunk.length) + " " + std::to_string(chunk.storedLength) + " " +
            HexText(chunk.digest.data(), chunk.digest.size()) + "\n";
  return text;
}

std::optional<ChunkIndex> ParseChunkIndex(std::string_view text) {
  if (text.size() > kMaxChunkIndexSize || text.empty() || text.back() != '\n') return std::nullopt;
  ChunkIndex index;
  uint64_t total = 0;
  bool shortChunk = false;
  std::size_t line = 0;
  for (std::size_t at = 0; at < text.size(); ++line) {
    const std::size_t end = text.find('\n', at);
    const std::string_view fields = text.substr(at, end - at);
    at = end + 1;
    if (line == 0) {
      if (fields != kHeader) return std::nullopt;
      continue;
    }
    if (line == 1) {
      const std::optional<std::string_view> content = Field(fields, "content");
      if (!content || !NumberAndDigest(*content, &index.size, &index.md5)) return std::nullopt;
      continue;
    }
    const std::optional<std::string_view> chunkFields = Field(fields, "chunk");
    if (!chunkFields) return std::nullopt;
    const std::size_t space = chunkFields->find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    IndexedChunk chunk;
    const std::optional<uint32_t> length = WholeNumber<uint32_t>(chunkFields->substr(0, space));
    if (!length || !NumberAndDigest(chunkFields->substr(space + 1), &chunk.storedLength, &chunk.digest))
      return std::nullopt;
    chunk.length = *length;
    // Only the last chunk may be shorter than the least length.
    if (shortChunk || chunk.length == 0 || chunk.length > kMaxChunkSize || chunk.storedLength == 0 ||
        chunk.storedLength > chunk.length)
      return std::nullopt;
    shortChunk = chunk.length < kMinChunkSize;
    total += chunk.length;
    if (total > index.size) return std::nullopt;
    index.chunks.push_back(chunk);
  }
  if (line < 2 || total != index.size) return std::nullopt;
  return index;
}
