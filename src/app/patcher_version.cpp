#include "app/patcher_version.h"

#include <vector>

#include "app/log.h"
#include "app/number_file.h"
#include "archive/version_text.h"
#include "net/update_server_client.h"

int32_t ReadPatcherVersion(const std::u16string& path) {
  return ReadOrCreateNumberFile(path);
}

int32_t FetchServerPatcherVersion(UpdateServerClient& client) {
  std::vector<uint8_t> received;
  const int32_t count = client.FetchToBuffer(kServerPatcherVersionResource, received);
  if (count < 0 || static_cast<std::size_t>(count) != received.size()) {
    Log::Error(u"Can't load file from server: %s\n", u"launcher version");
    return -1;
  }
  if (count == 0) return 0;
  return ScanDecimal(received.data(), received.size());
}
