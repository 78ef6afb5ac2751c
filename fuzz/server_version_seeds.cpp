// Seeds for server_version_fuzzer: numbers with and without white space, at and beyond the
// bound, and what a captive portal or a proxy answers instead.

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: server_version_seeds CORPUS_DIR\n");
    return 2;
  }
  const std::string texts[] = {"7",  " 7\r\n", "007",   "100000000", "100000001",           "0",           "-3",
                               "+3", "1 2",    "12abc", "",          "<html>log in</html>", "\x1f\x8b\x08"};
  int index = 0;
  for (const std::string& text : texts) {
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(index++);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || (!text.empty() && std::fwrite(text.data(), 1, text.size(), out) != text.size())) return 1;
    std::fclose(out);
  }
  return 0;
}
