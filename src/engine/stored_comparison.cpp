#include "engine/stored_comparison.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Content produced and compared at a time, and stored bytes read at a time: small, since
// most comparisons end within the first piece.
constexpr std::size_t kComparePiece = 16 * 1024;
constexpr std::size_t kInputPiece = 64 * 1024;

}  // namespace

void StoredComparison::Begin(const StoredContent::Source* source, uint64_t count, uint32_t size) {
  source_ = source;
  storedLeft_ = count;
  contentLeft_ = size;
  raw_ = count >= size;
  started_ = false;
  ended_ = false;
  next_ = nullptr;
  available_ = 0;
}

bool StoredComparison::Next(const uint8_t* data, std::size_t count) {
  if (count > contentLeft_) return false;
  try {
    output_.resize(kComparePiece);
    input_.resize(kInputPiece);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min(kComparePiece, count - done);
    if (!Produce(output_.data(), piece) || std::memcmp(output_.data(), data + done, piece) != 0) return false;
    done += piece;
  }
  return true;
}

bool StoredComparison::Produce(uint8_t* out, std::size_t count) {
  contentLeft_ -= count;
  if (raw_) {
    if (count > storedLeft_) return false;
    storedLeft_ -= count;
    return (*source_)(out, count);
  }
  if (!started_) {
    if (!inflater_.Begin()) return false;
    started_ = true;
  }
  for (std::size_t done = 0; done < count;) {
    if (ended_) return false;
    if (available_ == 0) {
      if (storedLeft_ == 0) return false;
      const auto piece = static_cast<std::size_t>(std::min<uint64_t>(kInputPiece, storedLeft_));
      if (!(*source_)(input_.data(), piece)) return false;
      storedLeft_ -= piece;
      next_ = input_.data();
      available_ = piece;
    }
    const std::size_t before = available_;
    std::size_t produced = 0;
    if (inflater_.Step(&next_, &available_, out + done, count - done, &produced, &ended_) != CodecResult::kOk)
      return false;
    // A stream that takes nothing and gives nothing is damaged.
    if (produced == 0 && available_ == before && !ended_) return false;
    done += produced;
  }
  return true;
}
