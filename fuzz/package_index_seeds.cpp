// Writes a few sound update packages as the seed corpus of package_index_fuzzer.

#include <cstdio>
#include <string>
#include <vector>

#include "engine/server_tree.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using testsupport::ListedFile;
  const std::vector<std::vector<ListedFile>> packages = {
      {},
      {{u"models\\a.ski", std::string(300, 'a')}, {u"b.txt", "bee", false}},
      {{u"gone.txt", "", true, true}, {u"help\\script\\x.lua", "print(1)"}},
  };
  int n = 0;
  for (const auto& files : packages) {
    const std::vector<uint8_t> bytes = testsupport::PackageBytes(1, 2, files);
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 1;
    std::fclose(out);
  }
  return 0;
}
