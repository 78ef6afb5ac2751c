// Writes the seed corpus of stored_content_fuzzer into the folder given as its argument:
// zlib streams that make their listed size, one byte short or over, cut short or damaged,
// with bytes after their end, raw content, and a stream longer than one piece.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The fuzzer's layout: three bytes of listed size, a byte of flags, then the stored bytes.
std::vector<uint8_t> Input(uint32_t listed, bool asPieces, const std::vector<uint8_t>& stored) {
  std::vector<uint8_t> input = {static_cast<uint8_t>(listed), static_cast<uint8_t>(listed >> 8),
                                static_cast<uint8_t>(listed >> 16), static_cast<uint8_t>(asPieces ? 1 : 0)};
  input.insert(input.end(), stored.begin(), stored.end());
  return input;
}

std::vector<uint8_t> Compressed(const std::string& content) {
  uLongf length = compressBound(static_cast<uLong>(content.size()));
  std::vector<uint8_t> out(length);
  compress2(out.data(), &length, reinterpret_cast<const Bytef*>(content.data()), static_cast<uLong>(content.size()),
            Z_DEFAULT_COMPRESSION);
  out.resize(length);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: stored_content_seeds FOLDER\n");
    return 2;
  }
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + " of a configuration file\r\n";
  const auto size = static_cast<uint32_t>(text.size());
  const std::vector<uint8_t> packed = Compressed(text);
  std::vector<uint8_t> cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2));
  std::vector<uint8_t> damaged = packed;
  damaged[damaged.size() / 2] ^= 0x10;
  std::vector<uint8_t> trailing = packed;
  trailing.insert(trailing.end(), {1, 2, 3});
  const std::vector<uint8_t> raw(text.begin(), text.end());
  const std::vector<uint8_t> large = Compressed(std::string(280 * 1024, 'z') + text);
  const std::vector<std::vector<uint8_t>> inputs = {
      Input(size, false, packed),
      Input(size, true, packed),
      Input(size - 1, false, packed),
      Input(size + 1, true, packed),
      Input(size, false, cut),
      Input(size, true, damaged),
      Input(size, false, trailing),
      Input(size, false, raw),
      Input(size - 1, true, raw),
      Input(0, false, {}),
      Input(280 * 1024 + size, true, large),
  };
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    std::ofstream out(std::string(argv[1]) + "/seed" + std::to_string(i), std::ios::binary);
    out.write(reinterpret_cast<const char*>(inputs[i].data()), static_cast<std::streamsize>(inputs[i].size()));
    if (!out) return 1;
  }
  return 0;
}
