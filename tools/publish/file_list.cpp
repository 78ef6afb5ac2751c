#include "file_list.h"

#include <cstring>

#include "byte_order.h"

namespace {

constexpr std::size_t kFixedEntryBytes = 2 + 16 + 4 + 4;

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

bool DecodeList(const uint8_t* data, std::size_t size, std::vector<ListEntry>* entries, std::string* why) {
  entries->clear();
  if (size < 4) {
    *why = "shorter than its 4-byte count";
    return false;
  }
  const uint32_t count = LoadLeU32(data);
  // Every entry takes at least its fixed fields, which bounds the count before it sizes anything.
  if (count > (size - 4) / kFixedEntryBytes) {
    *why = "count " + std::to_string(count) + " does not fit in " + std::to_string(size) + " bytes";
    return false;
  }
  entries->reserve(count);
  std::size_t at = 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < kFixedEntryBytes) {
      *why = "entry " + std::to_string(i) + " runs past the end";
      return false;
    }
    const auto length = static_cast<int16_t>(LoadLeU16(data + at));
    if (length < 0) {
      *why = "entry " + std::to_string(i) + " has a negative name length";
      return false;
    }
    const std::size_t nameBytes = 2 * static_cast<std::size_t>(length);
    if (size - at < kFixedEntryBytes + nameBytes) {
      *why = "entry " + std::to_string(i) + " runs past the end";
      return false;
    }
    at += 2;
    ListEntry entry;
    entry.name.resize(static_cast<std::size_t>(length));
    for (std::size_t unit = 0; unit < entry.name.size(); ++unit)
      entry.name[unit] = static_cast<char16_t>(LoadLeU16(data + at + 2 * unit));
    at += nameBytes;
    std::memcpy(entry.info.digest.data(), data + at, 16);
    entry.info.size = LoadLeU32(data + at + 16);
    entry.info.storedSize = LoadLeU32(data + at + 20);
    at += 24;
    entries->push_back(std::move(entry));
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
