#pragma once
// Whole files on the local disk, by UTF-16 path.

#include <cstdint>
#include <string>
#include <vector>

// Files larger than an archive entry can hold (32-bit lengths) are refused.
bool ReadLocalFile(const std::u16string& path, std::vector<uint8_t>* contents);
// Creates or empties the file; its folder must exist.
bool WriteLocalFile(const std::u16string& path, const std::vector<uint8_t>& contents);
