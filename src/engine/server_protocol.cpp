// The client archive set's side of the server protocol: the server version, the change
// and full lists, and the choice of an update package from "patches\list".
#include "base/byte_order.h"
#include "base/decimal_text.h"
#include "base/log.h"
#include "engine/client_archive_set.h"
#include "formats/patch_list.h"

namespace {

// The flag a list parse looks at when no operation gave a cancel token.
const std::atomic<bool> kNeverCancelled{false};

}  // namespace

int32_t ClientArchiveSet::FetchServerVersion() {
  std::vector<uint8_t> buffer;
  const FetchResult fetched = serverClient->FetchToBuffer(u"version", buffer, cancelToken.get());
  if (!fetched.complete()) {
    // A cancel that ended the fetch is no failure of the server's.
    if (!cancelRequested()) Log::Error(u"Can't load file from server: %s\n", u"version");
    return -1;
  }
  return ScanDecimal(buffer.data(), buffer.size());
}

int32_t ClientArchiveSet::GetList(int32_t clientVersion, int32_t serverVersion) {
  const int64_t behind = int64_t{serverVersion} - clientVersion;
  std::u16string path = u"list_";
  for (char c : std::to_string(behind)) path.push_back(static_cast<char16_t>(c));
  std::vector<uint8_t> buffer;
  const FetchResult fetched = serverClient->FetchToBuffer(path, buffer, cancelToken.get());
  if (!fetched.complete()) {
    if (!cancelRequested())
      Log::Error(u"GetList receved(%d) != data.size(%d)", fetched.received, static_cast<int32_t>(buffer.size()));
    return -1;
  }
  if (buffer.empty()) {
    Log::Error(u"GetList data.size == 0");
    return -2;
  }
  if (!ReadList(buffer.data(), buffer.size())) {
    Log::Error(u"ReadList");
    return -3;
  }
  return serverVersion;
}

int32_t ClientArchiveSet::GetFullList() {
  std::vector<uint8_t> buffer;
  const FetchResult fetched = serverClient->FetchToBuffer(u"fulllist", buffer, cancelToken.get());
  if (!fetched.complete()) {
    if (!cancelRequested())
      Log::Error(u"GetFile data.size(%d) != receved(%d)", static_cast<int32_t>(buffer.size()), fetched.received);
    return -1;
  }
  if (buffer.size() < 4) {
    Log::Error(u"GetFile data.size(%d) < 4", static_cast<int32_t>(buffer.size()));
    return -1;
  }
  const auto version = static_cast<int32_t>(LoadLeU32(buffer.data()));
  if (!ReadList(buffer.data() + 4, buffer.size() - 4)) {
    Log::Error(u"ReadList");
    return -2;
  }
  return version;
}

bool ClientArchiveSet::ReadList(const uint8_t* data, std::size_t size) {
  return ReadFileList(
      data, size, &fileTable,
      ListProgress{itemsTotal, itemsDone, cancelToken != nullptr ? cancelToken->flag() : kNeverCancelled});
}

std::u16string ClientArchiveSet::FindPatchPackage(int32_t clientVersion, int32_t serverVersion, int32_t& from,
                                                  int32_t& to) {
  from = -1;
  to = -1;
  const std::u16string path = u"patches\\list";
  std::vector<uint8_t> buffer;
  const FetchResult fetched = serverClient->FetchToBuffer(path, buffer, cancelToken.get());
  if (!fetched.complete()) {
    if (!cancelRequested()) Log::Error(u"Can't get file from server: %s", path);
    return {};
  }
  return ChoosePatchPackage(buffer.data(), buffer.size(), clientVersion, serverVersion, &from, &to);
}
