#include "formats/content_chunker.h"

#include <sodium.h>

#include <algorithm>

namespace {

// The gear table: 256 fixed pseudo-random words (splitmix64 from a fixed seed), so every
// build on every platform cuts alike.
constexpr std::array<uint64_t, 256> MakeGear() {
  std::array<uint64_t, 256> gear{};
  uint64_t state = 0x536f6c6d65726543ull;
  for (uint64_t& word : gear) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    word = z ^ (z >> 31);
  }
  return gear;
}
constexpr std::array<uint64_t, 256> kGear = MakeGear();

// The conditions test the hash's top bits, which depend on its last 64 bytes: 18 of them below
// the average length, 14 above it (FastCDC's normalisation by two bits each way).
constexpr uint64_t kStrictMask = ~uint64_t{0} << (64 - 18);
constexpr uint64_t kLooseMask = ~uint64_t{0} << (64 - 14);

}  // namespace

ChunkDigest DigestOfChunk(const uint8_t* data, std::size_t size) {
  ChunkDigest digest{};
  crypto_generichash(digest.data(), digest.size(), data, size, nullptr, 0);
  return digest;
}

void ContentChunker::Feed(const uint8_t* data, std::size_t size, const ChunkEnd& end) {
  std::size_t at = 0;
  while (at < size) {
    if (length_ < kMinChunkSize) {
      // No cut this early: the bytes are passed over unhashed.
      const std::size_t skipped = std::min<std::size_t>(size - at, kMinChunkSize - length_);
      length_ += static_cast<uint32_t>(skipped);
      at += skipped;
      hash_ = 0;
      continue;
    }
    const bool strict = length_ < kAverageChunkSize;
    const uint64_t mask = strict ? kStrictMask : kLooseMask;
    const uint32_t until = strict ? kAverageChunkSize : kMaxChunkSize;
    const std::size_t count = std::min<std::size_t>(size - at, until - length_);
    const uint8_t* bytes = data + at;
    uint64_t hash = hash_;
    std::size_t used = 0;
    bool cut = false;
    while (used < count) {
      hash = (hash << 1) + kGear[bytes[used++]];
      if ((hash & mask) == 0) {
        cut = true;
        break;
      }
    }
    length_ += static_cast<uint32_t>(used);
    at += used;
    hash_ = hash;
    if (cut || length_ == kMaxChunkSize) {
      end(length_);
      length_ = 0;
      hash_ = 0;
    }
  }
}

void ContentChunker::Finish(const ChunkEnd& end) {
  if (length_ > 0) end(length_);
  length_ = 0;
  hash_ = 0;
}
