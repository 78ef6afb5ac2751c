#pragma once
// Version numbers stored as decimal text: the client version file, the archives'
// version entries and the server's "version" resource.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Reads one integer the way "%d" does, never past `size` (the bytes carry no
// terminator): leading white space, an optional sign, digits. No number gives 0;
// a number beyond 32 bits is held at the nearest 32-bit value.
int32_t ScanDecimal(const void* data, std::size_t size);

// The version as "%d" writes it.
std::string DecimalText(int32_t value);

// The highest release number the updater takes: releases are counted one by one, so no real
// one comes near it, and a number beyond it is damage or a lie.
inline constexpr int32_t kMaxVersion = 100000000;

// A version the server states: optional white space, decimal digits, optional white space,
// nothing else, a number from 1 to kMaxVersion. None for anything else (a page of a
// captive portal, compressed bytes, a sign, 0, a number beyond the bound).
std::optional<int32_t> ParseServerVersion(const void* data, std::size_t size);
