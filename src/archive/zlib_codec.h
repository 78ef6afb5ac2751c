#pragma once
// zlib compress2/uncompress with the stream state kept between calls: the same bytes
// as the one-shot calls, without setting up 300 KiB of state for every 276-byte record.

#include <zlib.h>

#include <cstddef>
#include <cstdint>

enum class CodecResult { kOk, kDoesNotFit, kFailed };

class Deflater {
 public:
  Deflater();
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  // compress2 at the default level into out[0, capacity); *outSize receives the length.
  CodecResult Compress(const void* input, std::size_t inputSize, void* out, std::size_t capacity, std::size_t* outSize);

 private:
  z_stream stream_{};
  bool ready_ = false;
};

class Inflater {
 public:
  Inflater();
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  // uncompress of one complete zlib stream into out[0, capacity); *outSize receives the length.
  CodecResult Decompress(const void* input, std::size_t inputSize, void* out, std::size_t capacity,
                         std::size_t* outSize);

  // One zlib stream inflated in pieces, so that no buffer needs the whole content: Begin,
  // then Step with the input as it comes until *ended. Step takes what it can from
  // *input (advancing it and *inputSize) and writes up to capacity bytes (*produced).
  // When it writes less than capacity and has not ended, it needs more input.
  bool Begin();
  CodecResult Step(const uint8_t** input, std::size_t* inputSize, void* out, std::size_t capacity,
                   std::size_t* produced, bool* ended);

 private:
  z_stream stream_{};
  bool ready_ = false;
};
