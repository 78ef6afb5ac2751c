// Writes a few sound file lists as the seed corpus of file_list_fuzzer: an empty one, one
// with a deletion and a name of other than ASCII, and one naming a file twice.

#include <cstdio>
#include <string>
#include <vector>

#include "formats/file_list.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: file_list_seeds CORPUS_DIR\n");
    return 2;
  }
  const FileInfo file{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 500, 120};
  const std::vector<std::vector<ListEntry>> lists = {
      {},
      {{u"models\\a.ski", file}, {u"gone.dll", FileInfo{{}, kDeleteSize, 0}}, {u"help\\\u00e4.txt", file}},
      {{u"a.txt", file}, {u"b.txt", FileInfo{{}, 3, 3}}, {u"a.txt", FileInfo{{}, 4, 9}}},
  };
  int index = 0;
  for (const std::vector<ListEntry>& entries : lists) {
    const std::vector<uint8_t> bytes = EncodeList(entries);
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(index++);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 1;
    std::fclose(out);
  }
  return 0;
}
