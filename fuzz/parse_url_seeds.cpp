// Seeds for parse_url_fuzzer: package URLs as UTF-16LE, among them one whose "?" comes
// before its "://", which once gave a scheme and a query that overlapped.

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: parse_url_seeds CORPUS_DIR\n");
    return 2;
  }
  const char* const urls[] = {
      "http://updates.example.com/patches/1-2.cup", "host:81/x", "http://h?q=/z", "/only/path", "http://", "a?b://c/d"};
  int index = 0;
  for (const std::string url : urls) {
    std::string bytes;
    for (char c : url) bytes += {c, '\0'};
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(index++);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 1;
    std::fclose(out);
  }
  return 0;
}
