#include "formats/release_signature.h"

#include <sodium.h>

#include <cstring>
#include <new>

namespace {

// Once per process, before any other call; sodium_init may be called again and again.
bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

crypto_hash_sha256_state* StateIn(std::array<uint8_t, 128>& storage) {
  static_assert(sizeof(crypto_hash_sha256_state) <= 128, "room for libsodium's SHA-256 state");
  return std::launder(reinterpret_cast<crypto_hash_sha256_state*>(storage.data()));
}

}  // namespace

Sha256Digest Sha256(const void* data, std::size_t size) {
  Sha256Digest digest{};
  crypto_hash_sha256(digest.data(), static_cast<const unsigned char*>(data), size);
  return digest;
}

Sha256Stream::Sha256Stream() {
  crypto_hash_sha256_init(StateIn(state_));
}

void Sha256Stream::Add(const void* data, std::size_t size) {
  crypto_hash_sha256_update(StateIn(state_), static_cast<const unsigned char*>(data), size);
}

Sha256Digest Sha256Stream::Finish() {
  Sha256Digest digest{};
  crypto_hash_sha256_final(StateIn(state_), digest.data());
  return digest;
}

std::optional<PublicKey> PublicKeyOfHex(std::string_view hex) {
  const std::optional<std::vector<uint8_t>> bytes = BytesOfHex(hex);
  if (!bytes || bytes->size() != kPublicKeySize) return std::nullopt;
  PublicKey key{};
  std::memcpy(key.data(), bytes->data(), key.size());
  return key;
}

bool SignatureMatches(std::string_view signature, std::string_view message, const PublicKey& key) {
  if (!SodiumReady()) return false;
  if (!signature.empty() && signature.back() == '\n') signature.remove_suffix(1);
  if (!signature.empty() && signature.back() == '\r') signature.remove_suffix(1);
  const std::optional<std::vector<uint8_t>> bytes = BytesOfHex(signature);
  if (!bytes || bytes->size() != kSignatureSize) return false;
  return crypto_sign_verify_detached(bytes->data(), reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), key.data()) == 0;
}

std::optional<KeyPair> NewKeyPair() {
  if (!SodiumReady()) return std::nullopt;
  KeyPair pair;
  if (crypto_sign_keypair(pair.publicKey.data(), pair.secretKey.data()) != 0) return std::nullopt;
  return pair;
}

PublicKey PublicKeyOf(const std::array<uint8_t, kSecretKeySize>& secretKey) {
  PublicKey key{};
  crypto_sign_ed25519_sk_to_pk(key.data(), secretKey.data());
  return key;
}

std::string SignatureText(std::string_view message, const std::array<uint8_t, kSecretKeySize>& secretKey) {
  std::array<uint8_t, kSignatureSize> signature{};
  if (!SodiumReady() ||
      crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                           message.size(), secretKey.data()) != 0)
    return {};
  return HexText(signature.data(), signature.size()) + "\n";
}
