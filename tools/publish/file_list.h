#pragma once
// The server's binary file lists: "list_" + N and "fulllist". Little-endian throughout:
// a 4-byte count, then per entry a 2-byte name length in UTF-16 units, the UTF-16LE
// name, the MD5 of the contents, the size and the stored size. "fulllist" puts the
// 4-byte version in front.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/md5.h"

// The size that tells the updater to delete the file.
inline constexpr uint32_t kDeletedSize = 0xFFFFFFFF;
// Update packages carry names of at most this many units; lists are held to the same.
inline constexpr std::size_t kMaxNameUnits = 259;

struct FileInfo {
  platform::Md5Digest digest{};
  uint32_t size = 0;
  uint32_t storedSize = 0;
};

struct ListEntry {
  std::u16string name;  // relative to the client folder, "\"-separated
  FileInfo info;
};

std::vector<uint8_t> EncodeList(const std::vector<ListEntry>& entries);
std::vector<uint8_t> EncodeFullList(int32_t version, const std::vector<ListEntry>& entries);

// The bytes come from the server tree and may be damaged: false with the reason for a
// short buffer, a negative name length, an entry past the end or bytes left over.
bool DecodeList(const uint8_t* data, std::size_t size, std::vector<ListEntry>* entries, std::string* why);
bool DecodeFullList(const std::vector<uint8_t>& data, int32_t* version, std::vector<ListEntry>* entries,
                    std::string* why);
