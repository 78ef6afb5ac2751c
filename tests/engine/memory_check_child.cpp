// One file check as the updater runs it, alone in its process so that its memory can be
// measured: opens the client's archives, loads a list from the server and checks every
// listed file, then prints the result and how far the check raised the memory in use.
//
//   memory_check_child PROGRAM_FOLDER PORT BEHIND
//
// BEHIND 0 loads "fulllist", otherwise "list_" + BEHIND. Prints one line:
// "result R growth BYTES" (growth: the peak during the check above the use before it).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/client_archive_set.h"
#include "platform/text.h"
#include "support/memory_use.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: memory_check_child PROGRAM_FOLDER PORT BEHIND\n");
    return 2;
  }
  const auto port = static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 10));
  const int behind = std::atoi(argv[3]);
  ClientArchiveSet set(ClientLayout(platform::Utf16FromUtf8(argv[1])), UpdateServerAddress{u"127.0.0.1", port});
  if (!set.OpenArchives({}).allOpen()) {
    std::fprintf(stderr, "the archives did not open\n");
    return 1;
  }
  const int32_t local = set.ReadLocalVersion();
  const ListResult listed =
      behind == 0 ? set.GetFullList({}, set.FetchServerVersion({}).version) : set.GetList({}, local, local + behind);
  if (!listed.loaded()) {
    std::fprintf(stderr, "no list\n");
    return 1;
  }
  testsupport::MemoryUse before;
  testsupport::MemoryUse after;
  if (!testsupport::ReadMemoryUse(&before)) return 1;
  // The outcome as its number (CheckResult::Outcome).
  const int result = static_cast<int>(set.CheckFiles({}, false).outcome);
  if (!testsupport::ReadMemoryUse(&after)) return 1;
  // Whatever was stored stays: the next check reads it back.
  if (!set.SaveArchives({}).written()) return 1;
  std::printf("result %d growth %llu\n", static_cast<int>(result),
              static_cast<unsigned long long>(after.peak > before.current ? after.peak - before.current : 0));
  return 0;
}
