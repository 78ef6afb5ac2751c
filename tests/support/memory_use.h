#pragma once
// How much memory this process holds now and has held at most, for tests that bound the
// memory of an operation (run in a child process of its own, so that nothing else counts).

#include <cstdint>

namespace testsupport {

struct MemoryUse {
  uint64_t current = 0;  // resident bytes now
  uint64_t peak = 0;     // most resident bytes so far
};

// False when the system does not tell.
bool ReadMemoryUse(MemoryUse* use);

}  // namespace testsupport
