#include "engine/file_md5.h"

#include <algorithm>
#include <cstdint>
#include <vector>

Digest ComputeMd5(const void* bytes, std::size_t length) {
  platform::Md5Digest digest;
  if (!platform::ComputeMd5(bytes, length, &digest)) return std::nullopt;
  return digest;
}

Digest ComputeFileMd5(platform::File& file, const std::function<bool()>& stopped, const FilePieces& each) {
  uint64_t position = 0;
  uint64_t size = 0;
  if (!file.Tell(&position) || !file.Seek(0, platform::SeekOrigin::kEnd) || !file.Tell(&size) ||
      !file.Seek(0, platform::SeekOrigin::kStart))
    return std::nullopt;
  // Pieces instead of the whole file: the same digest without holding large files in memory.
  constexpr std::size_t kPiece = 1 << 20;
  thread_local std::vector<uint8_t> piece(kPiece);
  platform::Md5 md5;
  bool ok = true;
  // The first piece is smaller: a file compared with other content mostly differs at once.
  constexpr std::size_t kFirstPiece = 64 << 10;
  for (uint64_t done = 0; ok && done < size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(done == 0 ? kFirstPiece : kPiece, size - done));
    ok = !(stopped && stopped()) && file.Read(piece.data(), n) && (!each || each(piece.data(), n)) &&
         md5.Update(piece.data(), n);
    done += n;
  }
  platform::Md5Digest digest;
  ok = ok && md5.Finish(&digest);
  if (!file.Seek(static_cast<int64_t>(position), platform::SeekOrigin::kStart) || !ok) return std::nullopt;
  return digest;
}
