#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "support/memory_use.h"

namespace testsupport {

bool ReadMemoryUse(MemoryUse* use) {
  // statm: total and resident size, in pages.
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0;
  uint64_t resident = 0;
  if (!(statm >> size >> resident)) return false;
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return false;
  use->current = resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  use->peak = static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // KiB on Linux
  return true;
}

}  // namespace testsupport
