// Reads untrusted bytes as an update package's header and index: every record kept
// must point inside the input, with a name of at most 259 units.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/update_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  MemoryPackageSource source(data, size);
  PackageHeader header;
  if (!ReadPackageHeader(source, &header)) return 0;
  std::vector<PackageRecord> records;
  if (!ReadPackageIndex(source, header, &records)) return 0;
  for (const PackageRecord& record : records) {
    if (record.name.size() > kMaxPackageNameLength) std::abort();
    if (record.size != 0xFFFFFFFF && uint64_t{record.dataOffset} + record.storedSize > size) std::abort();
  }
  return 0;
}
