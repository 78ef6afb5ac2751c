#pragma once
// The stored form the updater downloads and keeps: a zlib stream of the contents when
// that is strictly shorter, the contents themselves otherwise.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/zlib_codec.h"

class StoredFormMaker {
 public:
  // The stored form of contents; valid until the next call. False only when zlib failed.
  bool Make(const std::vector<uint8_t>& contents, const std::vector<uint8_t>** stored);

 private:
  Deflater deflater_;
  std::vector<uint8_t> buffer_;
};

// Turns a stored form back into contents of `size` bytes; false with the reason when it
// does not inflate to exactly that.
class StoredFormReader {
 public:
  bool Contents(const std::vector<uint8_t>& stored, uint32_t size, std::vector<uint8_t>* contents, std::string* why);

 private:
  Inflater inflater_;
};
