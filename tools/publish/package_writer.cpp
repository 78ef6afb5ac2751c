#include "package_writer.h"

#include <fstream>
#include <system_error>

#include "base/byte_order.h"
#include "formats/update_package_format.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

bool WriteBody(std::ofstream* out, int32_t minimumVersion, int32_t targetVersion, const std::vector<ListEntry>& records,
               const fs::path& storedFiles, uint64_t* packageBytes, std::string* why) {
  std::vector<uint8_t> header;
  AppendU32(&header, static_cast<uint32_t>(minimumVersion));
  AppendU32(&header, static_cast<uint32_t>(targetVersion));
  AppendU32(&header, 0);  // the index offset, known at the end
  out->write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));

  uint64_t position = kPackageHeaderSize;
  std::vector<uint32_t> offsets(records.size(), 0);
  std::vector<uint8_t> stored;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ListEntry& record = records[i];
    if (record.info.size == kDeleteSize) continue;
    fs::path file;
    if (!ResourcePath(storedFiles, record.name, &file, why) || !ReadFileBytes(file, kDeleteSize, &stored, why)) {
      *why = "stored file of " + PathText(fs::path(record.name)) + ": " + *why;
      return false;
    }
    if (stored.size() != record.info.storedSize) {
      *why = "stored file " + PathText(file) + " is not the one the release lists";
      return false;
    }
    offsets[i] = static_cast<uint32_t>(position);
    out->write(reinterpret_cast<const char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
    position += stored.size();
    // Every offset in the format is 32-bit.
    if (position > UINT32_MAX) {
      *why = "the package would pass 4 GiB";
      return false;
    }
  }

  std::vector<uint8_t> index;
  AppendU32(&index, static_cast<uint32_t>(records.size()) ^ package_masks::kCount);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ListEntry& record = records[i];
    AppendU16(&index, static_cast<uint16_t>(record.name.size()));
    for (char16_t unit : record.name) AppendU16(&index, static_cast<uint16_t>(unit));
    index.insert(index.end(), record.info.digest.begin(), record.info.digest.end());
    const bool deletion = record.info.size == kDeleteSize;
    AppendU32(&index, record.info.size ^ package_masks::kSize);
    AppendU32(&index, (deletion ? 0 : record.info.storedSize) ^ package_masks::kStoredSize);
    AppendU32(&index, offsets[i] ^ package_masks::kDataOffset);
  }
  if (position + index.size() > UINT32_MAX) {
    *why = "the package would pass 4 GiB";
    return false;
  }
  out->write(reinterpret_cast<const char*>(index.data()), static_cast<std::streamsize>(index.size()));
  uint8_t indexOffset[4];
  StoreLeU32(indexOffset, static_cast<uint32_t>(position) ^ package_masks::kIndexOffset);
  out->seekp(8);
  out->write(reinterpret_cast<const char*>(indexOffset), 4);
  *packageBytes = position + index.size();
  return true;
}

}  // namespace

bool WritePackage(const fs::path& path, int32_t minimumVersion, int32_t targetVersion,
                  const std::vector<ListEntry>& records, const fs::path& storedFiles, uint64_t* packageBytes,
                  std::string* why) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  fs::path temporary = path;
  temporary += ".publish-tmp";
  bool written = false;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      *why = "cannot create " + PathText(temporary);
      return false;
    }
    written = WriteBody(&out, minimumVersion, targetVersion, records, storedFiles, packageBytes, why);
    out.close();
    if (written && !out) {
      *why = "cannot write " + PathText(temporary);
      written = false;
    }
  }
  if (written) {
    fs::rename(temporary, path, error);
    if (!error) return true;
    *why = "cannot rename " + PathText(temporary) + ": " + error.message();
  }
  fs::remove(temporary, error);
  return false;
}

uint64_t PackageSize(const std::vector<ListEntry>& records) {
  // Header, every record's stored bytes, the count, and each index record with its name.
  uint64_t size = kPackageHeaderSize + 4;
  for (const ListEntry& record : records) {
    if (record.info.size != kDeleteSize) size += record.info.storedSize;
    size += kPackageRecordFixedSize + 2 * record.name.size();
  }
  return size;
}
