#pragma once
// The cryptography of signed releases, all of it libsodium's: SHA-256 digests of resources,
// and Ed25519 signatures of manifests by the operator's key.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/release_manifest.h"

inline constexpr std::size_t kPublicKeySize = 32;
inline constexpr std::size_t kSecretKeySize = 64;
inline constexpr std::size_t kSignatureSize = 64;

using PublicKey = std::array<uint8_t, kPublicKeySize>;

// SHA-256, in one piece or streamed.
Sha256Digest Sha256(const void* data, std::size_t size);
class Sha256Stream {
 public:
  Sha256Stream();
  void Add(const void* data, std::size_t size);
  Sha256Digest Finish();

 private:
  alignas(64) std::array<uint8_t, 128> state_{};
};

// A public key given as 64 hexadecimal digits; none for anything else.
std::optional<PublicKey> PublicKeyOfHex(std::string_view hex);

// True when `signature` (the text of "manifest.sig": 128 hexadecimal digits, an optional line
// end) is a valid Ed25519 signature of `message` by `key`.
bool SignatureMatches(std::string_view signature, std::string_view message, const PublicKey& key);

// For the operator's tools: a new key pair, and the signature text of a message.
struct KeyPair {
  PublicKey publicKey{};
  std::array<uint8_t, kSecretKeySize> secretKey{};
};
std::optional<KeyPair> NewKeyPair();
// The public half of a secret key.
PublicKey PublicKeyOf(const std::array<uint8_t, kSecretKeySize>& secretKey);
std::string SignatureText(std::string_view message, const std::array<uint8_t, kSecretKeySize>& secretKey);
