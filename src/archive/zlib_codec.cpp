#include "archive/zlib_codec.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::size_t kMaxChunk = std::numeric_limits<uInt>::max();

}  // namespace

Deflater::Deflater() {
  ready_ = deflateInit(&stream_, Z_DEFAULT_COMPRESSION) == Z_OK;
}

Deflater::~Deflater() {
  if (ready_) deflateEnd(&stream_);
}

CodecResult Deflater::Compress(const void* input, std::size_t inputSize, void* out, std::size_t capacity,
                               std::size_t* outSize) {
  // zlib refuses a null output buffer (an empty vector's data()); no stream fits in 0 bytes anyway.
  if (capacity == 0) return CodecResult::kDoesNotFit;
  if (!ready_ || deflateReset(&stream_) != Z_OK) return CodecResult::kFailed;
  if (inputSize > kMaxChunk || capacity > kMaxChunk) return CodecResult::kFailed;
  stream_.next_in = static_cast<Bytef*>(const_cast<void*>(input));
  stream_.avail_in = static_cast<uInt>(inputSize);
  stream_.next_out = static_cast<Bytef*>(out);
  stream_.avail_out = static_cast<uInt>(capacity);
  int status = deflate(&stream_, Z_FINISH);
  if (status == Z_STREAM_END) {
    *outSize = static_cast<std::size_t>(stream_.total_out);
    return CodecResult::kOk;
  }
  // The output buffer filled up before the stream ended.
  if (status == Z_OK || status == Z_BUF_ERROR) return CodecResult::kDoesNotFit;
  return CodecResult::kFailed;
}

Inflater::Inflater() {
  ready_ = inflateInit(&stream_) == Z_OK;
}

Inflater::~Inflater() {
  if (ready_) inflateEnd(&stream_);
}

CodecResult Inflater::Decompress(const void* input, std::size_t inputSize, void* out, std::size_t capacity,
                                 std::size_t* outSize) {
  if (!ready_ || inflateReset(&stream_) != Z_OK) return CodecResult::kFailed;
  if (inputSize > kMaxChunk || capacity > kMaxChunk) return CodecResult::kFailed;
  stream_.next_in = static_cast<Bytef*>(const_cast<void*>(input));
  stream_.avail_in = static_cast<uInt>(inputSize);
  stream_.next_out = static_cast<Bytef*>(out);
  stream_.avail_out = static_cast<uInt>(capacity);
  int status = inflate(&stream_, Z_FINISH);
  if (status != Z_STREAM_END)
    return status == Z_BUF_ERROR && stream_.avail_out == 0 ? CodecResult::kDoesNotFit : CodecResult::kFailed;
  *outSize = static_cast<std::size_t>(stream_.total_out);
  return CodecResult::kOk;
}

bool Inflater::Begin() {
  return ready_ && inflateReset(&stream_) == Z_OK;
}

CodecResult Inflater::Step(const uint8_t** input, std::size_t* inputSize, void* out, std::size_t capacity,
                           std::size_t* produced, bool* ended) {
  *produced = 0;
  *ended = false;
  if (!ready_ || capacity == 0) return CodecResult::kFailed;
  // zlib counts in uInt: a larger piece is taken in parts over several steps.
  const auto taken = static_cast<uInt>(std::min(*inputSize, kMaxChunk));
  stream_.next_in = const_cast<Bytef*>(*input);
  stream_.avail_in = taken;
  stream_.next_out = static_cast<Bytef*>(out);
  stream_.avail_out = static_cast<uInt>(std::min(capacity, kMaxChunk));
  const int status = inflate(&stream_, Z_NO_FLUSH);
  const std::size_t used = taken - stream_.avail_in;
  *input += used;
  *inputSize -= used;
  *produced = static_cast<std::size_t>(stream_.next_out - static_cast<Bytef*>(out));
  // Z_BUF_ERROR only says that no progress was possible without more input.
  if (status == Z_STREAM_END) *ended = true;
  return status == Z_OK || status == Z_STREAM_END || status == Z_BUF_ERROR ? CodecResult::kOk : CodecResult::kFailed;
}
