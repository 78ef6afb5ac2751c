// Reads untrusted bytes as an update package's header and index: every record kept
// must point inside the input, with a name of at most 259 units, and a refusal always
// names its fault.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/update_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  MemoryPackageSource source(data, size);
  PackageHeader header;
  if (!ReadPackageHeader(source, &header)) return 0;
  std::vector<PackageRecord> records;
  PackageIndexFault fault;
  if (!ReadPackageIndex(source, header, &records, &fault)) {
    // Memory never fails a read inside its size.
    if (fault.kind == PackageIndexFault::Kind::kNone || fault.kind == PackageIndexFault::Kind::kUnreadable)
      std::abort();
    return 0;
  }
  if (fault.kind != PackageIndexFault::Kind::kNone) std::abort();
  for (const PackageRecord& record : records) {
    if (record.name.size() > kMaxPackageNameLength) std::abort();
    if (record.size != 0xFFFFFFFF && uint64_t{record.dataOffset} + record.storedSize > size) std::abort();
  }
  return 0;
}
