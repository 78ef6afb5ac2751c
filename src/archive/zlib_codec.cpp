#include "archive/zlib_codec.h"

#include <limits>

namespace {

constexpr std::size_t kMaxChunk = std::numeric_limits<uInt>::max();

}  // namespace

Deflater::Deflater() { ready_ = deflateInit(&stream_, Z_DEFAULT_COMPRESSION) == Z_OK; }

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

Inflater::Inflater() { ready_ = inflateInit(&stream_) == Z_OK; }

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
  if (status != Z_STREAM_END) return status == Z_BUF_ERROR && stream_.avail_out == 0 ? CodecResult::kDoesNotFit
                                                                                         : CodecResult::kFailed;
  *outSize = static_cast<std::size_t>(stream_.total_out);
  return CodecResult::kOk;
}
