// Checks untrusted bytes as the stored form of a file, in pieces as the updater does, and
// compares with the same bytes inflated whole by zlib's uncompress: both must agree on
// whether they make exactly the listed size, and the pieces handed on must be the content.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/stored_content.h"

namespace {

// The reference holds the content whole, so the listed size stays small here; a little
// over one piece, so that a content of several pieces is reached.
constexpr uint32_t kMaxListed = 320 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const uint32_t listed = (uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16) % (kMaxListed + 1);
  const bool asPieces = (data[3] & 1) != 0;
  data += 4;
  size -= 4;

  static std::vector<uint8_t> content;
  content.clear();
  bool expected = false;
  if (size >= listed) {
    expected = size == listed;
    content.assign(data, data + size);
  } else {
    content.resize(listed);
    uLongf produced = listed;
    expected = uncompress(content.data(), &produced, data, static_cast<uLong>(size)) == Z_OK && produced == listed;
    content.resize(produced);
  }
  platform::Md5Digest digest{};
  if (!platform::ComputeMd5(content.data(), content.size(), &digest)) std::abort();

  static std::vector<uint8_t> handedOn;
  handedOn.clear();
  const StoredContent::Sink sink = [&](const uint8_t* piece, std::size_t count) {
    if (count == 0 || count > StoredContent::kPieceSize) std::abort();
    handedOn.insert(handedOn.end(), piece, piece + count);
    return true;
  };
  // Reused as the updater reuses it from file to file, which also keeps the runs fast.
  static StoredContent checker;
  bool verified = false;
  if (asPieces) {
    std::size_t at = 0;
    const StoredContent::Source source = [&](uint8_t* buffer, std::size_t count) {
      if (count > size - at) std::abort();
      std::copy_n(data + at, count, buffer);
      at += count;
      return true;
    };
    verified = checker.Verify(source, size, listed, digest, sink);
  } else {
    verified = checker.Verify(data, size, listed, digest, sink);
  }
  if (verified != expected) std::abort();
  if (verified && handedOn != content) std::abort();
  return 0;
}
