#include "net/file_list.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kEntryFixedBytes = 2 + 16 + 4 + 4;

uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

bool ReadFileList(const uint8_t* data, std::size_t size, FileTable* table, ListProgress progress) {
  if (size < 4) return false;
  const uint32_t count = LoadU32(data);
  progress.itemsTotal = count == 0 ? 1 : static_cast<int32_t>(std::min<uint32_t>(count, INT32_MAX));
  progress.itemsDone = 0;
  table->clear();
  table->max_load_factor(1.0f);
  // The count is untrusted: no more entries fit than the bytes can hold.
  table->rehash(std::min<std::size_t>(count, (size - 4) / kEntryFixedBytes));

  std::size_t at = 4;
  for (uint32_t i = 0; i < count && !progress.cancelRequested; ++i) {
    if (size - at < 2) return false;
    const auto length = static_cast<int16_t>(data[at] | data[at + 1] << 8);
    if (length < 0) return false;
    const std::size_t nameBytes = 2 * static_cast<std::size_t>(length);
    if (size - at < kEntryFixedBytes + nameBytes) return false;
    at += 2;
    std::u16string name(static_cast<std::size_t>(length), u'\0');
    for (std::size_t k = 0; k < name.size(); ++k)
      name[k] = static_cast<char16_t>(data[at + 2 * k] | data[at + 2 * k + 1] << 8);
    at += nameBytes;
    FileInfo info;
    std::memcpy(info.digest.data(), data + at, 16);
    info.size = LoadU32(data + at + 16);
    info.storedSize = LoadU32(data + at + 20);
    at += 24;
    (*table)[std::move(name)] = info;
    ++progress.itemsDone;
  }
  progress.itemsDone = progress.itemsTotal.load();
  return true;
}
