// Parses untrusted bytes as a server file list; every entry the parse keeps must have
// come from inside the input.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "net/file_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::atomic<int32_t> total{0};
  std::atomic<int32_t> done{0};
  std::atomic<bool> cancel{false};
  FileTable table;
  const bool ok = ReadFileList(data, size, &table, ListProgress{total, done, cancel});
  if (ok && table.size() * 26 > size) std::abort();
  if (ok && done != total) std::abort();
  return 0;
}
