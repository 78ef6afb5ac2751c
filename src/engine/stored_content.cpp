#include "engine/stored_content.h"

#include <algorithm>
#include <new>

namespace {

constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 64;

}  // namespace

// Feeds stored bytes through the inflater (or takes them as they are) into the digest and
// the sink, and tells at the end whether they made exactly the listed content.
class StoredContent::Check {
 public:
  Check(StoredContent& owner, uint64_t count, uint32_t size, const Sink& sink)
      : owner_(owner), raw_(count >= size), size_(size), sink_(sink) {}

  bool Start() {
    if (raw_) return true;
    try {
      owner_.output_.resize(kPieceSize);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return owner_.inflater_.Begin();
  }

  bool Feed(const uint8_t* data, std::size_t count) {
    if (raw_) return Take(data, count);
    while (!ended_) {
      std::size_t produced = 0;
      const std::size_t capacity = done_ == 0 ? kFirstPieceSize : kPieceSize;
      if (owner_.inflater_.Step(&data, &count, owner_.output_.data(), capacity, &produced, &ended_) != CodecResult::kOk)
        return false;
      if (produced > 0 && !Take(owner_.output_.data(), produced)) return false;
      // Less than a whole piece out and no end yet: the input is used up.
      if (count == 0 && produced < capacity) break;
    }
    // Bytes after the end of the stream are not looked at, as when an archive reads it.
    return true;
  }

  // Null: the digest is not checked.
  bool Finish(const platform::Md5Digest* digest) {
    platform::Md5Digest actual{};
    return (raw_ || ended_) && done_ == size_ && (digest == nullptr || (md5_.Finish(&actual) && actual == *digest));
  }

 private:
  bool Take(const uint8_t* data, std::size_t count) {
    // More content than listed: damaged, or the size is a lie.
    if (count > size_ - done_) return false;
    done_ += count;
    // The sink first: one that compares may end the check before anything is hashed.
    return (!sink_ || sink_(data, count)) && md5_.Update(data, count);
  }

  StoredContent& owner_;
  const bool raw_;
  const uint64_t size_;
  const Sink& sink_;
  uint64_t done_ = 0;
  bool ended_ = false;
  platform::Md5 md5_;
};

bool StoredContent::Verify(const uint8_t* stored, std::size_t count, uint32_t size, const platform::Md5Digest& digest,
                           const Sink& sink) {
  return Run(stored, count, size, &digest, sink);
}

bool StoredContent::Verify(const Source& source, uint64_t count, uint32_t size, const platform::Md5Digest& digest,
                           const Sink& sink) {
  return Run(source, count, size, &digest, sink);
}

bool StoredContent::Read(const uint8_t* stored, std::size_t count, uint32_t size, const Sink& sink) {
  return Run(stored, count, size, nullptr, sink);
}

bool StoredContent::Read(const Source& source, uint64_t count, uint32_t size, const Sink& sink) {
  return Run(source, count, size, nullptr, sink);
}

bool StoredContent::Run(const uint8_t* stored, std::size_t count, uint32_t size, const platform::Md5Digest* digest,
                        const Sink& sink) {
  if (!Plausible(count, size)) return false;
  Check check(*this, count, size, sink);
  if (!check.Start()) return false;
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min(kPieceSize, count - done);
    if (!check.Feed(stored + done, piece)) return false;
    done += piece;
  }
  return check.Finish(digest);
}

bool StoredContent::Run(const Source& source, uint64_t count, uint32_t size, const platform::Md5Digest* digest,
                        const Sink& sink) {
  if (!Plausible(count, size)) return false;
  Check check(*this, count, size, sink);
  if (!check.Start()) return false;
  try {
    input_.resize(kPieceSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (uint64_t done = 0; done < count;) {
    const auto piece = static_cast<std::size_t>(std::min<uint64_t>(kPieceSize, count - done));
    if (!source(input_.data(), piece) || !check.Feed(input_.data(), piece)) return false;
    done += piece;
  }
  return check.Finish(digest);
}

bool StoredContent::Plausible(uint64_t count, uint32_t size) {
  // Raw content is exactly as long as listed; zlib never inflates one byte to more than
  // about 1032, so a larger size is a lie, refused before any inflating.
  if (count >= size) return count == size;
  return uint64_t{size} <= count * kMaxInflateRatio + kInflateSlack;
}
