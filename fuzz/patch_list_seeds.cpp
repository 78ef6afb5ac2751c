// Seeds for patch_list_fuzzer: the client and server versions (two little-endian 32-bit
// numbers), then a patch list; one line names a URL whose "?" comes before its "://".

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::string Versions(int32_t client, int32_t server) {
  std::string bytes;
  for (const int32_t value : {client, server})
    for (int shift = 0; shift < 32; shift += 8)
      bytes += static_cast<char>((static_cast<uint32_t>(value) >> shift) & 0xFF);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: patch_list_seeds CORPUS_DIR\n");
    return 2;
  }
  const std::string seeds[] = {
      Versions(17, 20) + "10 20 http://h/a.cup\n15 20 http://h/b.cup\r\n",
      Versions(17, 20) + "17 20 http://h:8080/p/c.cup?x=1\n",
      Versions(5, 9) + "1 3 x\n\n5 9\n5 9 /no/host.cup\n",
      Versions(17, 20) + "17 20 a?b://c/d\n",
  };
  int index = 0;
  for (const std::string& seed : seeds) {
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(index++);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(seed.data(), 1, seed.size(), out) != seed.size()) return 1;
    std::fclose(out);
  }
  return 0;
}
