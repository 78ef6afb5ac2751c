// The chunk index as the updater reads it: anything accepted holds chunks the chunker could have
// cut of the content's length, and writing it out again gives the very same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "formats/chunk_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<ChunkIndex> index = ParseChunkIndex(text);
  if (!index) return 0;
  uint64_t total = 0;
  for (std::size_t i = 0; i < index->chunks.size(); ++i) {
    const IndexedChunk& chunk = index->chunks[i];
    if (chunk.length == 0 || chunk.length > kMaxChunkSize || chunk.storedLength == 0 ||
        chunk.storedLength > chunk.length || (i + 1 < index->chunks.size() && chunk.length < kMinChunkSize))
      std::abort();
    total += chunk.length;
  }
  if (total != index->size) std::abort();
  // One text per index: upper-case digits and leading zeros are the only other spellings.
  if (ParseChunkIndex(FormatChunkIndex(*index)) != index) std::abort();
  return 0;
}
