// Seeds for chunk_index_fuzzer: an index of a few chunks, an empty one, and damaged forms of both.

#include <cstdio>
#include <string>

#include "formats/chunk_index.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: chunk_index_seeds CORPUS_DIR\n");
    return 2;
  }
  ChunkIndex index;
  index.size = kMinChunkSize * 3 + 17;
  index.chunks = {{kMinChunkSize, 900, {1}}, {kMinChunkSize * 2, kMinChunkSize * 2, {2}}, {17, 17, {3}}};
  const std::string full = FormatChunkIndex(index);
  const std::string empty = FormatChunkIndex(ChunkIndex{});
  const std::string texts[] = {full, empty, full.substr(0, full.size() / 2), empty + empty, "solmere-chunk-index 1\n"};
  int number = 0;
  for (const std::string& text : texts) {
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(number++);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || (!text.empty() && std::fwrite(text.data(), 1, text.size(), out) != text.size())) return 1;
    std::fclose(out);
  }
  return 0;
}
