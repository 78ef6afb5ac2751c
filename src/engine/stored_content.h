#pragma once
// The stored form of a file (from the server, an update package or an archive) checked
// against the size and digest it was listed with, before anything is stored: bytes that
// do not match are never written. The content is inflated and hashed in pieces, so a
// size the list claims never sizes a buffer; whoever writes the content takes the pieces
// as they are checked.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "archive/zlib_codec.h"
#include "platform/md5.h"

class StoredContent {
 public:
  // Takes each piece of the content as it is produced; false stops the check (it then fails).
  using Sink = std::function<bool(const uint8_t* data, std::size_t size)>;
  // Reads the next `size` stored bytes into `buffer`; false when they cannot be read.
  using Source = std::function<bool(uint8_t* buffer, std::size_t size)>;

  // Bytes of content produced at a time, and stored bytes read at a time from a Source.
  static constexpr std::size_t kPieceSize = 256 * 1024;
  // The first piece of inflated content is smaller: a sink that compares the content with
  // other content mostly stops at once, and should not have inflated much by then.
  static constexpr std::size_t kFirstPieceSize = 16 * 1024;

  // True when the stored bytes stand for exactly `size` bytes with the digest: a zlib stream
  // that inflates to them when count is below size, otherwise the content itself (count
  // must then equal size). The sink, when given, receives the content on the way.
  bool Verify(const uint8_t* stored, std::size_t count, uint32_t size, const platform::Md5Digest& digest,
              const Sink& sink = nullptr);
  // The same with the stored bytes read piece by piece from `source`.
  bool Verify(const Source& source, uint64_t count, uint32_t size, const platform::Md5Digest& digest,
              const Sink& sink = nullptr);
  // The same without a digest to check: true when the stored bytes stand for exactly `size`
  // bytes, all of which the sink took.
  bool Read(const uint8_t* stored, std::size_t count, uint32_t size, const Sink& sink);
  bool Read(const Source& source, uint64_t count, uint32_t size, const Sink& sink);

 private:
  // One check under way.
  class Check;
  static bool Plausible(uint64_t count, uint32_t size);
  // Verify or Read: the digest checked when given.
  bool Run(const uint8_t* stored, std::size_t count, uint32_t size, const platform::Md5Digest* digest,
           const Sink& sink);
  bool Run(const Source& source, uint64_t count, uint32_t size, const platform::Md5Digest* digest, const Sink& sink);

  Inflater inflater_;
  // Reused from file to file: first touches of fresh memory are slow.
  std::vector<uint8_t> input_;
  std::vector<uint8_t> output_;
};
