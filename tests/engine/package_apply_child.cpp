// The package apply tests' child: applies an update package to a client root and saves its
// archives, telling each step on its standard output as it happens ("open", one "done" per
// record, "saving", "saved"), so that the test can kill it anywhere.
//
// usage: package_apply_child ROOT PACKAGE THREADS

#include <cstdio>
#include <cstdlib>

#include "base/progress_sink.h"
#include "engine/client_archive_set.h"
#include "platform/text.h"

namespace {

void Tell(const char* step) {
  std::printf("%s\n", step);
  std::fflush(stdout);
}

class ToldProgress final : public ProgressSink {
 public:
  void ItemDone() override { Tell("done"); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: package_apply_child ROOT PACKAGE THREADS\n");
    return 2;
  }
  ClientArchiveSet set(ClientLayout::OfRoot(platform::Utf16FromUtf8(argv[1])), UpdateServerAddress{u"127.0.0.1", 9});
  set.SetCheckThreads(std::atoi(argv[3]));
  if (!set.OpenArchives({}).allOpen()) return 1;
  Tell("open");
  ToldProgress progress;
  const ApplyResult applied = set.ApplyPackage(OperationContext(nullptr, progress), platform::Utf16FromUtf8(argv[2]));
  if (!applied.applied()) return 1;
  Tell("saving");
  if (!set.SaveArchives({}).written()) return 1;
  Tell("saved");
  return 0;
}
