#pragma once
// The server's binary file lists ("list_" + N, and "fulllist" after its version):
// a 4-byte count, then per entry a 2-byte name length L, L UTF-16LE units, the MD5
// of the content, its size and the size of its stored form. Little-endian throughout.
// The updater reads them into its file table; publish writes them and checks them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/operation_context.h"
#include "platform/md5.h"

// Size of an entry whose file is to be deleted.
inline constexpr uint32_t kDeleteSize = 0xFFFFFFFF;
// An entry without its name: length, digest, size and stored size.
inline constexpr std::size_t kListEntryFixedSize = 2 + 16 + 4 + 4;

struct FileInfo {
  platform::Md5Digest digest{};
  uint32_t size = 0;
  // Below size: the stored form is a zlib stream; otherwise it is the raw content.
  uint32_t storedSize = 0;

  bool operator==(const FileInfo&) const = default;
};

struct ListEntry {
  std::u16string name;  // relative to the client folder, "\"-separated
  FileInfo info;

  bool operator==(const ListEntry&) const = default;
};

enum class ListEntryRead { kOk, kPastEnd, kNegativeLength };

// Reads the entry at *at and moves *at past it. The bytes are untrusted: an entry whose
// fixed part or name would reach past `size` is kPastEnd, a negative name length
// kNegativeLength; *at is left where it was then.
ListEntryRead ReadListEntry(const uint8_t* data, std::size_t size, std::size_t* at, ListEntry* entry);

// Relative client path (exact, case-sensitive) to what the list says of it.
using FileTable = std::unordered_map<std::u16string, FileInfo>;

// The updater's reading: replaces the table's content with the list's entries; a later
// entry of the same name replaces an earlier one. False for a list shorter than its count,
// an entry with a negative length or one that reaches past the end; bytes after the last
// entry are not looked at. The entries count as the context's items. A cancel stops the
// parse early with true; the caller checks the context.
bool ReadFileList(const uint8_t* data, std::size_t size, FileTable* table, const OperationContext& context);

// publish's reading, stricter than the updater's: false with the reason for a short
// buffer, a count the bytes cannot hold, a negative name length, an entry past the end or
// bytes left over. Every entry is kept, in list order.
bool DecodeList(const uint8_t* data, std::size_t size, std::vector<ListEntry>* entries, std::string* why);
// "fulllist": the 4-byte version, then the list.
bool DecodeFullList(const std::vector<uint8_t>& data, int32_t* version, std::vector<ListEntry>* entries,
                    std::string* why);

std::vector<uint8_t> EncodeList(const std::vector<ListEntry>& entries);
std::vector<uint8_t> EncodeFullList(int32_t version, const std::vector<ListEntry>& entries);
