// Content-defined chunking speed on one core against MD5 over the same bytes, in one run: a
// check hashes every large file with MD5, and cutting it into chunks must stay within that
// budget. Also the chunks' digests (BLAKE2b), and what share of the chunks an edit of 1 % of
// the bytes in 10 places leaves new (what a delta update would download).
// Usage: chunk_bench [MIB]   (default 256)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "formats/content_chunker.h"
#include "platform/md5.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of three runs of `work`, in seconds.
template <typename Work>
double Best(const Work& work) {
  double best = 1e30;
  for (int round = 0; round < 3; ++round) {
    const Clock::time_point start = Clock::now();
    work();
    best = std::min(best, SecondsSince(start));
  }
  return best;
}

std::vector<uint32_t> Cut(const std::vector<uint8_t>& content) {
  std::vector<uint32_t> lengths;
  ContentChunker chunker;
  const ContentChunker::ChunkEnd end = [&lengths](uint32_t length) { lengths.push_back(length); };
  // In the pieces a check reads.
  constexpr std::size_t kPiece = 256 * 1024;
  for (std::size_t at = 0; at < content.size(); at += kPiece)
    chunker.Feed(content.data() + at, std::min(kPiece, content.size() - at), end);
  chunker.Finish(end);
  return lengths;
}

std::set<ChunkDigest> Digests(const std::vector<uint8_t>& content, const std::vector<uint32_t>& lengths) {
  std::set<ChunkDigest> digests;
  std::size_t at = 0;
  for (uint32_t length : lengths) {
    digests.insert(DigestOfChunk(content.data() + at, length));
    at += length;
  }
  return digests;
}

}  // namespace

int main(int argc, char** argv) {
  const long mebibytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
  if (argc > 2 || mebibytes < 1 || mebibytes > 4000) {
    std::fprintf(stderr, "usage: chunk_bench [MIB]   (1 to 4000, default 256)\n");
    return 2;
  }
  std::vector<uint8_t> content(static_cast<std::size_t>(mebibytes) << 20);
  std::mt19937_64 random(1);
  for (std::size_t i = 0; i + 8 <= content.size(); i += 8) {
    const uint64_t word = random();
    for (int b = 0; b < 8; ++b) content[i + static_cast<std::size_t>(b)] = static_cast<uint8_t>(word >> (8 * b));
  }
  const double megabytes = static_cast<double>(content.size()) / 1e6;
  std::vector<uint32_t> lengths;
  const double cut = Best([&] { lengths = Cut(content); });
  const double md5 = Best([&] {
    platform::Md5Digest digest{};
    if (!platform::ComputeMd5(content.data(), content.size(), &digest)) std::abort();
  });
  std::set<ChunkDigest> before;
  const double digests = Best([&] { before = Digests(content, lengths); });
  std::printf("%ld MiB of random bytes, one core, best of 3:\n", mebibytes);
  std::printf("  chunking          %8.0f MB/s  (%zu chunks, %.1f KiB on average)\n", megabytes / cut, lengths.size(),
              static_cast<double>(content.size()) / 1024.0 / static_cast<double>(lengths.size()));
  std::printf("  MD5 (reference)   %8.0f MB/s\n", megabytes / md5);
  std::printf("  chunk digests     %8.0f MB/s  (BLAKE2b)\n", megabytes / digests);

  // 1 % of the bytes changed in 10 places, each an overwrite, an insertion or a removal.
  std::vector<uint8_t> edited = content;
  const std::size_t span = content.size() / 1000;
  for (int place = 9; place >= 0; --place) {
    const std::size_t at = content.size() / 10 * static_cast<std::size_t>(place) + content.size() / 20;
    if (place % 3 == 0) {
      std::fill(edited.begin() + static_cast<std::ptrdiff_t>(at),
                edited.begin() + static_cast<std::ptrdiff_t>(at + span), uint8_t{0x42});
    } else if (place % 3 == 1) {
      edited.insert(edited.begin() + static_cast<std::ptrdiff_t>(at), span, uint8_t{0x17});
    } else {
      edited.erase(edited.begin() + static_cast<std::ptrdiff_t>(at),
                   edited.begin() + static_cast<std::ptrdiff_t>(at + span));
    }
  }
  const std::vector<uint32_t> editedLengths = Cut(edited);
  uint64_t freshBytes = 0;
  std::size_t at = 0;
  for (uint32_t length : editedLengths) {
    if (before.count(DigestOfChunk(edited.data() + at, length)) == 0) freshBytes += length;
    at += length;
  }
  std::printf("  1 %% changed in 10 places: %.2f %% of the new content is in chunks the old lacks\n",
              100.0 * static_cast<double>(freshBytes) / static_cast<double>(edited.size()));
  return 0;
}
