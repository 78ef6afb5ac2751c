#include "formats/release_manifest.h"

#include <gtest/gtest.h>

#include <string>

#include "formats/release_signature.h"

namespace {

ReleaseManifest Sample() {
  ReleaseManifest manifest;
  manifest.release = 7;
  manifest.expires = 1767225600;
  manifest.resources = {{"version", 1, Sha256("7", 1)},
                        {"patches\\list", 0, Sha256("", 0)},
                        {"http://cdn.example/p 6-7.cup", 123456789012, Sha256("p", 1)}};
  return manifest;
}

TEST(ReleaseManifestTest, FormatsAndReadsBack) {
  const std::string text = FormatReleaseManifest(Sample());
  // The SHA-256 of "7", as any other tool computes it.
  EXPECT_EQ(text.substr(0, 140),
            "solmere-release-manifest 1\nrelease 7\nexpires 1767225600\n"
            "resource 1 7902699be42c8a8e46fbbb4501726517e86b22c56a189f7625a6da49081b2451 version\n");
  const std::optional<ReleaseManifest> read = ParseReleaseManifest(text);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, Sample());
  ASSERT_NE(read->Find("patches\\list"), nullptr);
  EXPECT_EQ(read->Find("patches\\list")->length, 0u);
  EXPECT_EQ(read->Find("patches/list"), nullptr);
}

TEST(ReleaseManifestTest, AnythingButTheExactFormIsRefused) {
  const std::string good = FormatReleaseManifest(Sample());
  const std::string digest(64, 'a');
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"Empty", ""},
      {"NoFinalLineEnd", good.substr(0, good.size() - 1)},
      {"OtherHeader", "solmere-release-manifest 2\nrelease 7\nexpires 1\n"},
      {"NoExpiry", "solmere-release-manifest 1\nrelease 7\n"},
      {"ReleaseZero", "solmere-release-manifest 1\nrelease 0\nexpires 1\n"},
      {"ReleaseAboveTheBound", "solmere-release-manifest 1\nrelease 100000001\nexpires 1\n"},
      {"SignedRelease", "solmere-release-manifest 1\nrelease +7\nexpires 1\n"},
      {"CarriageReturns", "solmere-release-manifest 1\r\nrelease 7\r\nexpires 1\r\n"},
      {"ShortDigest", "solmere-release-manifest 1\nrelease 7\nexpires 1\nresource 1 " + digest.substr(1) + " v\n"},
      {"DigestNotHex", "solmere-release-manifest 1\nrelease 7\nexpires 1\nresource 1 " + std::string(64, 'g') + " v\n"},
      {"NoName", "solmere-release-manifest 1\nrelease 7\nexpires 1\nresource 1 " + digest + " \n"},
      {"ControlInName", "solmere-release-manifest 1\nrelease 7\nexpires 1\nresource 1 " + digest + " a\tb\n"},
      {"NameTwice",
       "solmere-release-manifest 1\nrelease 7\nexpires 1\nresource 1 " + digest + " v\nresource 2 " + digest + " v\n"},
      {"LengthTooLong",
       "solmere-release-manifest 1\nrelease 7\nexpires 1\nresource 99999999999999999999 " + digest + " v\n"},
      {"EmptyLine", good + "\n"},
      {"UnknownLine", good + "comment here\n"},
      {"NameTooLong", "solmere-release-manifest 1\nrelease 7\nexpires 1\nresource 1 " + digest + " " +
                          std::string(kMaxManifestNameLength + 1, 'n') + "\n"},
  };
  for (const auto& c : cases) EXPECT_FALSE(ParseReleaseManifest(c.text)) << c.name;
  EXPECT_FALSE(ParseReleaseManifest(good + std::string(kMaxManifestSize, 'x') + "\n")) << "too large";
}

TEST(ReleaseSignatureTest, OnlyTheKeysOwnSignatureOfTheSameBytesMatches) {
  const std::optional<KeyPair> pair = NewKeyPair();
  const std::optional<KeyPair> other = NewKeyPair();
  ASSERT_TRUE(pair && other);
  EXPECT_EQ(PublicKeyOf(pair->secretKey), pair->publicKey);
  const std::string message = FormatReleaseManifest(Sample());
  const std::string signature = SignatureText(message, pair->secretKey);
  ASSERT_EQ(signature.size(), 129u);
  EXPECT_TRUE(SignatureMatches(signature, message, pair->publicKey));
  EXPECT_TRUE(SignatureMatches(signature.substr(0, 128), message, pair->publicKey)) << "without its line end";

  std::string flipped = signature;
  flipped[10] = flipped[10] == '0' ? '1' : '0';
  std::string changed = message;
  changed[changed.size() - 2] ^= 1;
  const struct {
    const char* name;
    std::string signature;
    std::string message;
    PublicKey key;
  } refused[] = {
      {"OtherKey", signature, message, other->publicKey},
      {"FlippedSignature", flipped, message, pair->publicKey},
      {"TruncatedSignature", signature.substr(0, 126), message, pair->publicKey},
      {"ChangedMessage", signature, changed, pair->publicKey},
      {"Empty", "", message, pair->publicKey},
      {"NotHex", std::string(128, 'z'), message, pair->publicKey},
  };
  for (const auto& c : refused) EXPECT_FALSE(SignatureMatches(c.signature, c.message, c.key)) << c.name;

  const std::string keyHex = HexText(pair->publicKey.data(), pair->publicKey.size());
  EXPECT_EQ(PublicKeyOfHex(keyHex), pair->publicKey);
  EXPECT_FALSE(PublicKeyOfHex(keyHex.substr(2)));
  EXPECT_FALSE(PublicKeyOfHex(keyHex + "00"));
}

TEST(ReleaseSignatureTest, StreamedDigestEqualsTheWholeOne) {
  const std::string text(100000, 'q');
  Sha256Stream stream;
  for (std::size_t at = 0; at < text.size(); at += 777)
    stream.Add(text.data() + at, std::min<std::size_t>(777, text.size() - at));
  EXPECT_EQ(stream.Finish(), Sha256(text.data(), text.size()));
}

}  // namespace
