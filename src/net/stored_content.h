#pragma once
// The stored form of a file (from the server or from an update package) turned into
// its content and checked against the size and digest it was listed with, before
// anything is stored: bytes that do not match are never written.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/zlib_codec.h"
#include "platform/md5.h"

class StoredContent {
 public:
  // True when the stored bytes stand for exactly `size` bytes with the digest: inflated
  // when `count` is below size, otherwise the bytes themselves (count must equal size).
  bool Verify(const uint8_t* stored, std::size_t count, uint32_t size, const platform::Md5Digest& digest);
  // The content after a successful Verify.
  const uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  Inflater inflater_;
  // Reused from file to file: first touches of fresh memory are slow.
  std::vector<uint8_t> buffer_;
  const uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};
