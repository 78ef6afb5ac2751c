// Content-defined chunks and their index: where the chunker cuts, what survives an edit, and
// the index text that carries the cuts to the updater.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "formats/chunk_index.h"
#include "formats/content_chunker.h"

namespace {

std::vector<uint8_t> RandomBytes(std::size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// The chunk lengths of `content` fed in pieces of `piece` bytes.
std::vector<uint32_t> Cut(const std::vector<uint8_t>& content, std::size_t piece) {
  std::vector<uint32_t> lengths;
  const ContentChunker::ChunkEnd end = [&lengths](uint32_t length) { lengths.push_back(length); };
  ContentChunker chunker;
  for (std::size_t at = 0; at < content.size(); at += piece)
    chunker.Feed(content.data() + at, std::min(piece, content.size() - at), end);
  chunker.Finish(end);
  return lengths;
}

// The digests of the chunks `content` is cut into.
std::multiset<std::string> ChunkDigests(const std::vector<uint8_t>& content) {
  std::multiset<std::string> digests;
  std::size_t at = 0;
  for (uint32_t length : Cut(content, content.size())) {
    const ChunkDigest digest = DigestOfChunk(content.data() + at, length);
    digests.insert(std::string(digest.begin(), digest.end()));
    at += length;
  }
  return digests;
}

TEST(ContentChunkerTest, CutsWithinTheBoundsWhateverThePiecesFed) {
  const std::vector<uint8_t> content = RandomBytes(6u << 20, 1);
  const std::vector<uint32_t> whole = Cut(content, content.size());
  uint64_t total = 0;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    EXPECT_LE(whole[i], kMaxChunkSize);
    if (i + 1 < whole.size()) {
      EXPECT_GE(whole[i], kMinChunkSize) << "chunk " << i;
    }
    total += whole[i];
  }
  EXPECT_EQ(total, content.size());
  // About the average on random bytes.
  const double average = static_cast<double>(content.size()) / static_cast<double>(whole.size());
  EXPECT_GT(average, 0.75 * kAverageChunkSize);
  EXPECT_LT(average, 1.5 * kAverageChunkSize);
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{kMinChunkSize + 1}})
    EXPECT_EQ(Cut(content, piece), whole) << "fed in pieces of " << piece;
  // Bytes that never meet the condition are cut at the greatest length.
  const std::vector<uint8_t> zeros(1u << 20, 0);
  EXPECT_EQ(Cut(zeros, zeros.size()), std::vector<uint32_t>(4, kMaxChunkSize));
  EXPECT_TRUE(Cut({}, 1).empty());
}

// The cut of the bytes below as the first build gave it: a change to the chunker's parameters or
// gear table (which would make every published index useless) shows here.
constexpr std::size_t kExpectedChunks = 58;
const std::vector<uint32_t> kExpectedFirst = {66649, 109250, 72011, 68521};
constexpr uint64_t kExpectedMix = 2140006910916521818u;
const std::vector<uint8_t> kExpectedDigestStart = {0x66, 0x28, 0x16, 0x3E};

// Every build, on every platform, cuts the same bytes alike: this test runs natively and as
// the Windows build, against the same figures.
TEST(ContentChunkerTest, CutsTheSameBytesAlikeOnEveryPlatform) {
  std::vector<uint8_t> content(4u << 20);
  uint32_t seed = 12345;
  for (uint8_t& byte : content) byte = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
  const std::vector<uint32_t> lengths = Cut(content, 65536);
  uint64_t mix = 0;
  for (uint32_t length : lengths) mix = mix * 1000003u + length;
  const std::vector<uint32_t> first(lengths.begin(), lengths.begin() + std::min<std::size_t>(lengths.size(), 4));
  EXPECT_EQ(lengths.size(), kExpectedChunks);
  EXPECT_EQ(first, kExpectedFirst);
  EXPECT_EQ(mix, kExpectedMix);
  const ChunkDigest digest = DigestOfChunk(content.data(), lengths[0]);
  EXPECT_EQ(std::vector<uint8_t>(digest.begin(), digest.begin() + 4), kExpectedDigestStart);
}

// An edit moves only the boundaries near it: the chunks elsewhere keep their digests.
TEST(ContentChunkerTest, AnEditChangesOnlyTheChunksNearIt) {
  const std::vector<uint8_t> base = RandomBytes(8u << 20, 2);
  const std::multiset<std::string> before = ChunkDigests(base);
  struct Case {
    const char* what;
    std::vector<uint8_t> edited;
    std::size_t mostNew;  // chunks of the edited content that were not there before
  };
  std::vector<uint8_t> inserted = base;
  inserted.insert(inserted.begin() + (3u << 20), 100, 0x5A);
  std::vector<uint8_t> overwritten = base;
  std::memset(overwritten.data() + (5u << 20), 0x33, 4096);
  std::vector<uint8_t> appended = base;
  appended.insert(appended.end(), 1024, 0x11);
  std::vector<uint8_t> truncated(base.begin(), base.end() - 5000);
  std::vector<uint8_t> removed = base;
  removed.erase(removed.begin() + (1u << 20), removed.begin() + (1u << 20) + 3000);
  const std::vector<Case> cases = {
      {"100 bytes inserted", inserted, 3},   {"4 KiB overwritten", overwritten, 3}, {"1 KiB appended", appended, 2},
      {"5,000 bytes cut off", truncated, 2}, {"3,000 bytes removed", removed, 3},   {"unchanged", base, 0},
  };
  for (const Case& test : cases) {
    std::size_t fresh = 0;
    for (const std::string& digest : ChunkDigests(test.edited)) fresh += before.count(digest) == 0 ? 1 : 0;
    EXPECT_LE(fresh, test.mostNew) << test.what;
    if (test.mostNew > 0) {
      EXPECT_GE(fresh, 1u) << test.what;
    }
  }
}

ChunkIndex SampleIndex() {
  ChunkIndex index;
  index.size = kMinChunkSize * 2 + 10;
  index.md5[0] = 0xAB;
  index.chunks = {{kMinChunkSize, 9000, {1}}, {kMinChunkSize + 5, kMinChunkSize + 5, {2}}, {5, 5, {3}}};
  return index;
}

TEST(ChunkIndexTest, ReadsWhatItWrites) {
  const ChunkIndex index = SampleIndex();
  const std::string text = FormatChunkIndex(index);
  EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1),
            "solmere-chunk-index 1\ncontent 32778 ab000000000000000000000000000000\n");
  EXPECT_EQ(ParseChunkIndex(text), index);
  ChunkIndex empty;
  EXPECT_EQ(ParseChunkIndex(FormatChunkIndex(empty)), empty);
}

TEST(ChunkIndexTest, RefusesWhatTheChunkerCouldNotHaveCut) {
  const std::string good = FormatChunkIndex(SampleIndex());
  const std::string head = good.substr(0, good.find("chunk "));
  const std::string digest(32, '0');
  const std::map<std::string, std::string> cases = {
      {"empty", ""},
      {"another header", "solmere-chunk-index 2" + good.substr(good.find('\n'))},
      {"no last line end", good.substr(0, good.size() - 1)},
      {"lengths short of the content", head + "chunk 16384 100 " + digest + "\n"},
      {"lengths beyond the content",
       head + "chunk 16384 1 " + digest + "\nchunk 16394 1 " + digest + "\nchunk 1 1 " + digest + "\n"},
      {"a short chunk before the last", head + "chunk 10 10 " + digest + "\nchunk 32768 1 " + digest + "\n"},
      {"a chunk above the greatest",
       "solmere-chunk-index 1\ncontent 262145 " + digest + "\nchunk 262145 1 " + digest + "\n"},
      {"an empty chunk", head + "chunk 0 0 " + digest + "\n"},
      {"stored longer than the chunk", head + "chunk 32778 32779 " + digest + "\n"},
      {"stored empty", head + "chunk 32778 0 " + digest + "\n"},
      {"a short digest", head + "chunk 32778 1 " + digest.substr(2) + "\n"},
      {"a sign", head + "chunk +32778 1 " + digest + "\n"},
      {"a number beyond 32 bits", "solmere-chunk-index 1\ncontent 4294967296 " + digest + "\n"},
      {"an unknown line", good + "extra 1\n"},
      {"no content line", "solmere-chunk-index 1\n"},
  };
  for (const auto& [what, text] : cases) EXPECT_FALSE(ParseChunkIndex(text)) << what;
  EXPECT_FALSE(ParseChunkIndex(std::string(kMaxChunkIndexSize + 1, '\n')));
}

}  // namespace
