// Parses untrusted bytes as a server file list, the updater's way and publish's stricter
// way; every entry the parse keeps must have come from inside the input, and what publish
// accepts the updater must read the same.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/progress_counters.h"
#include "formats/file_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ProgressCounters progress;
  FileTable table;
  const bool ok = ReadFileList(data, size, &table, OperationContext(nullptr, progress));
  if (ok && table.size() * 26 > size) std::abort();
  if (ok && progress.Read().itemsDone != progress.Read().itemsTotal) std::abort();

  std::vector<ListEntry> entries;
  std::string why;
  const bool strict = DecodeList(data, size, &entries, &why);
  if (strict != why.empty()) std::abort();
  if (strict) {
    if (!ok) std::abort();
    // The updater keeps the last entry of a name.
    FileTable expected;
    for (const ListEntry& entry : entries) expected[entry.name] = entry.info;
    if (expected != table) std::abort();
    // Nothing is left over, so writing the entries again gives the input.
    if (EncodeList(entries) != std::vector<uint8_t>(data, data + size)) std::abort();
  }
  return 0;
}
