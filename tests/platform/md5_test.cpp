#include "platform/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Hex(const platform::Md5Digest& digest) {
  std::string text;
  char pair[3];
  for (uint8_t byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

TEST(Md5Test, KnownDigests) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    platform::Md5Digest digest{};
    ASSERT_TRUE(platform::ComputeMd5(c.input.data(), c.input.size(), &digest)) << c.input;
    EXPECT_EQ(Hex(digest), c.digest) << c.input;
  }
}

TEST(Md5Test, PiecesGiveTheDigestOfTheWhole) {
  std::vector<uint8_t> bytes(3 * 1024 * 1024 + 17);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + i / 4096);
  platform::Md5Digest whole{};
  ASSERT_TRUE(platform::ComputeMd5(bytes.data(), bytes.size(), &whole));
  platform::Md5 md5;
  for (std::size_t at = 0; at < bytes.size(); at += 65537)
    ASSERT_TRUE(md5.Update(bytes.data() + at, std::min<std::size_t>(65537, bytes.size() - at)));
  platform::Md5Digest pieces{};
  ASSERT_TRUE(md5.Finish(&pieces));
  EXPECT_EQ(pieces, whole);
  bytes[12345] ^= 1;
  platform::Md5Digest changed{};
  ASSERT_TRUE(platform::ComputeMd5(bytes.data(), bytes.size(), &changed));
  EXPECT_NE(changed, whole);
}

}  // namespace
