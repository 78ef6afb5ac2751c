#include "app/patcher_version.h"

#include <vector>

#include "base/decimal_text.h"
#include "base/log.h"
#include "base/number_file.h"
#include "net/update_server_client.h"

int32_t ReadPatcherVersion(const std::u16string& path) {
  return ReadOrCreateNumberFile(path);
}

int32_t FetchServerPatcherVersion(UpdateServerClient& client) {
  std::vector<uint8_t> received;
  if (!client.FetchToBuffer(kServerPatcherVersionResource, received).complete()) {
    Log::Error(u"Can't load file from server: %s\n", u"launcher version");
    return -1;
  }
  if (received.empty()) return 0;
  return ScanDecimal(received.data(), received.size());
}
