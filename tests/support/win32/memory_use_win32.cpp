// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>
// The process status API, after it.
#include <psapi.h>

#include "support/memory_use.h"

namespace testsupport {

bool ReadMemoryUse(MemoryUse* use) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return false;
  use->current = counters.WorkingSetSize;
  use->peak = counters.PeakWorkingSetSize;
  return true;
}

}  // namespace testsupport
