// Seeds for release_manifest_fuzzer: a manifest of a few resources, an empty one, and damaged
// forms of both.

#include <cstdio>
#include <string>

#include "formats/release_manifest.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: release_manifest_seeds CORPUS_DIR\n");
    return 2;
  }
  ReleaseManifest manifest;
  manifest.release = 12;
  manifest.expires = 1800000000;
  manifest.resources = {
      {"version", 2, {}}, {"fulllist", 4096, {}}, {"patches\\list", 30, {}}, {"http://127.0.0.1/11-12.cup", 99999, {}}};
  const std::string full = FormatReleaseManifest(manifest);
  manifest.resources.clear();
  const std::string empty = FormatReleaseManifest(manifest);
  const std::string texts[] = {full, empty, full.substr(0, full.size() / 2), empty + empty, "release 12\n"};
  int index = 0;
  for (const std::string& text : texts) {
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(index++);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || (!text.empty() && std::fwrite(text.data(), 1, text.size(), out) != text.size())) return 1;
    std::fclose(out);
  }
  return 0;
}
