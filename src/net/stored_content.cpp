#include "net/stored_content.h"

#include <new>

#include "net/file_md5.h"

namespace {

// zlib never inflates one byte to more than about 1032: a larger size is a lie that
// would only size a large allocation.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 64;

}  // namespace

bool StoredContent::Verify(const uint8_t* stored, std::size_t count, uint32_t size, const platform::Md5Digest& digest) {
  data_ = nullptr;
  size_ = 0;
  if (count >= size) {
    if (count != size) return false;
    if (!DigestMatches(ComputeMd5(stored, count), digest)) return false;
    data_ = stored;
    size_ = count;
    return true;
  }
  if (uint64_t{size} > uint64_t{count} * kMaxInflateRatio + kInflateSlack) return false;
  try {
    if (buffer_.size() < size) buffer_.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::size_t produced = 0;
  if (inflater_.Decompress(stored, count, buffer_.data(), size, &produced) != CodecResult::kOk || produced != size)
    return false;
  if (!DigestMatches(ComputeMd5(buffer_.data(), size), digest)) return false;
  data_ = buffer_.data();
  size_ = size;
  return true;
}
