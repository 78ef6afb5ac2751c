#include "package_reader.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string FaultText(const PackageIndexFault& fault) {
  using Kind = PackageIndexFault::Kind;
  const std::string where = "record " + std::to_string(fault.record) + ": ";
  switch (fault.kind) {
    case Kind::kIndexPastEnd:
      return "index offset " + std::to_string(fault.value) + " is past the end";
    case Kind::kCountTooLarge:
      return "record count " + std::to_string(fault.value) + " does not fit in the index";
    case Kind::kRecordPastEnd:
      return where + "runs past the end";
    case Kind::kNameLength:
      return where + "name length " + std::to_string(fault.value) + " outside 0 to " +
             std::to_string(kMaxPackageNameLength);
    case Kind::kStoredPastEnd:
      return where + "stored bytes lie past the end";
    case Kind::kUnreadable:
    case Kind::kNone:
      break;
  }
  return "unreadable index";
}

}  // namespace

bool PackageReader::ReadAt(uint64_t offset, void* out, std::size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  if (count == 0) return true;
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  return static_cast<bool>(in_.read(static_cast<char*>(out), static_cast<std::streamsize>(count)));
}

bool PackageReader::Open(const fs::path& path, PackageHeader* header, std::vector<PackageRecord>* records,
                         std::string* why) {
  std::error_code error;
  size_ = fs::file_size(path, error);
  if (error) {
    *why = error.message();
    return false;
  }
  in_.open(path, std::ios::binary);
  if (!in_ || !ReadPackageHeader(*this, header)) {
    *why = "shorter than its 12-byte header";
    return false;
  }
  PackageIndexFault fault;
  if (!ReadPackageIndex(*this, *header, records, &fault)) {
    *why = FaultText(fault);
    return false;
  }
  return true;
}

bool PackageReader::ReadStored(const PackageRecord& record, std::vector<uint8_t>* stored, std::string* why) {
  stored->resize(record.storedSize);
  if (stored->empty() || ReadAt(record.dataOffset, stored->data(), stored->size())) return true;
  *why = "unreadable stored bytes";
  return false;
}
