#include "formats/file_list.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace {

void AppendEntries(const std::vector<ListEntry>& entries, std::vector<uint8_t>* out) {
  AppendU32(out, static_cast<uint32_t>(entries.size()));
  for (const ListEntry& entry : entries) {
    AppendU16(out, static_cast<uint16_t>(entry.name.size()));
    for (char16_t unit : entry.name) AppendU16(out, static_cast<uint16_t>(unit));
    out->insert(out->end(), entry.info.digest.begin(), entry.info.digest.end());
    AppendU32(out, entry.info.size);
    AppendU32(out, entry.info.storedSize);
  }
}

}  // namespace

ListEntryRead ReadListEntry(const uint8_t* data, std::size_t size, std::size_t* at, ListEntry* entry) {
  std::size_t position = *at;
  if (position > size || size - position < kListEntryFixedSize) return ListEntryRead::kPastEnd;
  const auto length = static_cast<int16_t>(LoadLeU16(data + position));
  if (length < 0) return ListEntryRead::kNegativeLength;
  const std::size_t nameBytes = 2 * static_cast<std::size_t>(length);
  if (size - position < kListEntryFixedSize + nameBytes) return ListEntryRead::kPastEnd;
  position += 2;
  entry->name.resize(static_cast<std::size_t>(length));
  for (std::size_t unit = 0; unit < entry->name.size(); ++unit)
    entry->name[unit] = static_cast<char16_t>(LoadLeU16(data + position + 2 * unit));
  position += nameBytes;
  std::memcpy(entry->info.digest.data(), data + position, 16);
  entry->info.size = LoadLeU32(data + position + 16);
  entry->info.storedSize = LoadLeU32(data + position + 20);
  *at = position + 24;
  return ListEntryRead::kOk;
}

bool ReadFileList(const uint8_t* data, std::size_t size, FileTable* table, const OperationContext& context) {
  if (size < 4) return false;
  const uint32_t count = LoadLeU32(data);
  ProgressSink& progress = context.progress();
  progress.StartItems(count == 0 ? 1 : static_cast<int32_t>(std::min<uint32_t>(count, INT32_MAX)));
  table->clear();
  table->max_load_factor(1.0f);
  // The count is untrusted: no more entries fit than the bytes can hold.
  table->rehash(std::min<std::size_t>(count, (size - 4) / kListEntryFixedSize));

  std::size_t at = 4;
  ListEntry entry;
  for (uint32_t i = 0; i < count && !context.cancelled(); ++i) {
    if (ReadListEntry(data, size, &at, &entry) != ListEntryRead::kOk) return false;
    (*table)[std::move(entry.name)] = entry.info;
    progress.ItemDone();
  }
  progress.FinishItems();
  return true;
}

bool DecodeList(const uint8_t* data, std::size_t size, std::vector<ListEntry>* entries, std::string* why) {
  entries->clear();
  if (size < 4) {
    *why = "shorter than its 4-byte count";
    return false;
  }
  const uint32_t count = LoadLeU32(data);
  // Every entry takes at least its fixed fields, which bounds the count before it sizes anything.
  if (count > (size - 4) / kListEntryFixedSize) {
    *why = "count " + std::to_string(count) + " does not fit in " + std::to_string(size) + " bytes";
    return false;
  }
  entries->reserve(count);
  std::size_t at = 4;
  for (uint32_t i = 0; i < count; ++i) {
    ListEntry entry;
    switch (ReadListEntry(data, size, &at, &entry)) {
      case ListEntryRead::kOk:
        entries->push_back(std::move(entry));
        break;
      case ListEntryRead::kPastEnd:
        *why = "entry " + std::to_string(i) + " runs past the end";
        return false;
      case ListEntryRead::kNegativeLength:
        *why = "entry " + std::to_string(i) + " has a negative name length";
        return false;
    }
  }
  if (at != size) {
    *why = std::to_string(size - at) + " bytes after the last entry";
    return false;
  }
  return true;
}

bool DecodeFullList(const std::vector<uint8_t>& data, int32_t* version, std::vector<ListEntry>* entries,
                    std::string* why) {
  if (data.size() < 4) {
    *why = "shorter than its 4-byte version";
    return false;
  }
  *version = static_cast<int32_t>(LoadLeU32(data.data()));
  return DecodeList(data.data() + 4, data.size() - 4, entries, why);
}

std::vector<uint8_t> EncodeList(const std::vector<ListEntry>& entries) {
  std::vector<uint8_t> out;
  AppendEntries(entries, &out);
  return out;
}

std::vector<uint8_t> EncodeFullList(int32_t version, const std::vector<ListEntry>& entries) {
  std::vector<uint8_t> out;
  AppendU32(&out, static_cast<uint32_t>(version));
  AppendEntries(entries, &out);
  return out;
}
