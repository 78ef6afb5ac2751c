#pragma once
// Version numbers stored as decimal text: the client version file, the archives'
// version entries and the server's "version" resource.

#include <cstddef>
#include <cstdint>
#include <string>

// Reads one integer the way "%d" does, never past `size` (the bytes carry no
// terminator): leading white space, an optional sign, digits. No number gives 0;
// a number beyond 32 bits is held at the nearest 32-bit value.
int32_t ScanDecimal(const void* data, std::size_t size);

// The version as "%d" writes it.
std::string DecimalText(int32_t value);
