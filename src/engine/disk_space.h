#pragma once
// A write the disk refused for want of space, with what was free on it and what the write
// needed, so that the user learns how much room to make.

#include <cstdint>
#include <optional>
#include <string>

struct DiskShortage {
  // Free on the volume once the write had failed; none when the system would not tell.
  std::optional<uint64_t> freeBytes;
  // What the refused write had to put on the disk.
  uint64_t neededBytes = 0;
};

// The shortage of a write of `needed` bytes into the file `path`, measured on its folder.
DiskShortage ShortageAt(const std::u16string& path, uint64_t needed);

// " (disk full: 4096 bytes free, 65536 needed)", for the log line of the failed write.
std::u16string ShortageLogText(const DiskShortage& shortage);
