#pragma once
// What lets a later run take up an update package download that stopped (a cancel, a kill, a
// power loss): written beside the temporary package file as the body starts, it names the
// package's address, its length and the validator (ETag or date) the server gave it. The bytes
// already in the package file are taken up only for the same address, and only while the
// server still answers the validator with the rest of the same body.

#include <cstdint>
#include <optional>
#include <string>

struct PackageResumeRecord {
  std::u16string url;
  uint32_t length = 0;
  std::string validator;
};

// None when the file is missing or is not a record.
std::optional<PackageResumeRecord> ReadPackageResumeRecord(const std::u16string& path);
// Whole or not at all; false when it could not be written.
bool WritePackageResumeRecord(const std::u16string& path, const PackageResumeRecord& record);
