#pragma once
// The content that stored bytes (a zlib stream, or the content itself) stand for, produced
// as a target check asks for it and compared with the target's bytes: a target that
// differs at once costs a little inflating on either side instead of all of it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/zlib_codec.h"
#include "engine/stored_content.h"
#include "engine/target_check.h"

class StoredComparison final : public ExpectedContent {
 public:
  // Starts over on `count` stored bytes read from `source`, which stand for `size` bytes
  // of content (a zlib stream when count is below size). The source must outlive the
  // comparison.
  void Begin(const StoredContent::Source* source, uint64_t count, uint32_t size);
  bool Next(const uint8_t* data, std::size_t count) override;

 private:
  // Exactly the next `count` bytes of the content into `out`.
  bool Produce(uint8_t* out, std::size_t count);

  const StoredContent::Source* source_ = nullptr;
  uint64_t storedLeft_ = 0;
  uint64_t contentLeft_ = 0;
  bool raw_ = true;
  bool started_ = false;
  bool ended_ = false;
  Inflater inflater_;
  // Stored bytes read and not inflated yet.
  const uint8_t* next_ = nullptr;
  std::size_t available_ = 0;
  // Reused from record to record.
  std::vector<uint8_t> input_;
  std::vector<uint8_t> output_;
};
