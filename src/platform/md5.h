#pragma once
// MD5 digests: OpenSSL's libcrypto on POSIX, CryptoAPI on Windows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

using Md5Digest = std::array<uint8_t, 16>;

// A digest built from pieces, for contents that arrive or are read in parts.
class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  // False once anything has failed; the digest is then not to be used.
  bool Update(const void* data, std::size_t size);
  bool Finish(Md5Digest* digest);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of one byte range; false when the platform's hashing failed.
bool ComputeMd5(const void* data, std::size_t size, Md5Digest* digest);

}  // namespace platform
