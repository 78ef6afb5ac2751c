#pragma once
// The server's binary file lists ("list_" + N, and "fulllist" after its version):
// a 4-byte count, then per entry a 2-byte name length L, L UTF-16LE units, the MD5
// of the content, its size and the size of its stored form. Little-endian throughout.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/md5.h"

// Size of an entry whose file is to be deleted.
inline constexpr uint32_t kDeleteSize = 0xFFFFFFFF;

struct FileInfo {
  platform::Md5Digest digest{};
  uint32_t size = 0;
  // Below size: the stored form is a zlib stream; otherwise it is the raw content.
  uint32_t storedSize = 0;
};

// Relative client path (exact, case-sensitive) to what the list says of it.
using FileTable = std::unordered_map<std::u16string, FileInfo>;

// Counters and flag that ReadFileList shares with the progress display and the window.
struct ListProgress {
  std::atomic<int32_t>& itemsTotal;
  std::atomic<int32_t>& itemsDone;
  const std::atomic<bool>& cancelRequested;
};

// Replaces the table's content with the list's entries; a later entry of the same
// name replaces an earlier one. False for a list shorter than its count, an entry
// with a negative length or one that reaches past the end. A cancel stops the parse
// early with true; the caller checks the flag.
bool ReadFileList(const uint8_t* data, std::size_t size, FileTable* table, ListProgress progress);
