#pragma once
// Small settings files that hold one decimal number as 8-bit text: the graphics switch and
// the updater's own version.

#include <cstdint>
#include <optional>
#include <string>

// The number at the start of the file, read as "%d" reads it (0 when none is there);
// nothing when the file cannot be opened for reading and writing.
std::optional<int32_t> ReadNumberFile(const std::u16string& path);

// Creates or empties the file and writes the number as "%d" writes it, no line end. When
// the file cannot be created, its missing folders are made and it is tried once more.
// False when it could not be written.
bool WriteNumberFile(const std::u16string& path, int32_t value);

// The number of the file; a file that cannot be opened is created holding "0" (its folders
// too) and reads as 0.
int32_t ReadOrCreateNumberFile(const std::u16string& path);
