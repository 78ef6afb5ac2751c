#include "net/update_server_client.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "net/escape_request_path.h"

UpdateServerClient::UpdateServerClient(std::u16string serverHost, uint16_t port)
    : host(serverHost), serverHost_(std::move(serverHost)), port_(port) {
  // MinGW's winpthreads finishes setting up a statically initialised rwlock on its
  // first use, and that set-up races: two threads using a fresh lock first at the same
  // moment were seen to hold it exclusively together. Use it once while only this
  // thread knows the client.
  std::unique_lock<std::shared_mutex> firstUse(handlesMutex_);
}

UpdateServerClient::~UpdateServerClient() {
  connection_.reset();
  session_.reset();
}

bool UpdateServerClient::Connect() {
  std::unique_lock<std::shared_mutex> lock(handlesMutex_);
  return ConnectLocked();
}

bool UpdateServerClient::ConnectLocked() {
  connection_.reset();
  session_.reset();
  session_ = platform::OpenHttpSession(kUserAgent);
  if (session_ == nullptr) return false;
  connection_ = session_->Connect(host, port_);
  return connection_ != nullptr;
}

std::unique_ptr<platform::HttpRequest> UpdateServerClient::OpenGet(const std::u16string& path,
                                                                   std::shared_lock<std::shared_mutex>& lock) {
  lock = std::shared_lock<std::shared_mutex>(handlesMutex_);
  if (connection_ == nullptr) {
    // Two fetches at start-up can both find no connection: the first to get the
    // exclusive lock connects, the other finds the connection made.
    lock.unlock();
    {
      std::unique_lock<std::shared_mutex> exclusive(handlesMutex_);
      if (connection_ == nullptr) ConnectLocked();
    }
    lock.lock();
    if (connection_ == nullptr) return nullptr;
  }
  const std::string objectName = EscapeRequestPath(path);
  if (objectName.size() > kMaxRequestPathBytes) return nullptr;
  std::unique_ptr<platform::HttpRequest> request = connection_->OpenGet(objectName);
  if (request == nullptr || !request->Send()) return nullptr;
  uint32_t status = 0;
  if (!request->QueryStatusCode(&status) || status != 200) return nullptr;
  return request;
}

template <typename Target, typename Store>
uint32_t UpdateServerClient::ReadBody(platform::HttpRequest& request, uint32_t declared, Target target, Store store) {
  declaredLength = declared;
  const uint32_t chunk = std::min(declared, kReadSize);
  chunksDone = 0;
  chunksTotal = chunk == 0 ? 1 : static_cast<int32_t>(static_cast<double>(declared) / chunk + 0.5);
  uint32_t received = 0;
  uint32_t want = chunk;
  while (true) {
    uint32_t n = 0;
    if (!request.Read(target(received), want, &n) || n > want) break;
    if (n > 0 && !store(target(received), n)) break;
    ++chunksDone;
    received += n;
    bytesInSample += n;
    bytesReceived += n;
    if (n == 0 || received >= declared) break;
    want = std::min(declared - received, kReadSize);
  }
  chunksDone = chunksTotal.load();
  return received;
}

int32_t UpdateServerClient::FetchToBuffer(const std::u16string& path, std::vector<uint8_t>& buffer) {
  // The lock outlives the request: it is released only after the request is closed.
  std::shared_lock<std::shared_mutex> lock;
  std::unique_ptr<platform::HttpRequest> request = OpenGet(path, lock);
  if (request == nullptr) return -1;
  uint32_t declared = 0;
  if (!request->QueryContentLength(&declared) || declared > kMaxBufferLength) return -1;
  // resize leaves the vector as it was when the allocation fails.
  const std::size_t oldSize = buffer.size();
  try {
    buffer.resize(declared);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  // New bytes are zero already; old ones are cleared so that a broken transfer
  // leaves a zero tail.
  std::fill_n(buffer.begin(), std::min<std::size_t>(oldSize, declared), uint8_t{0});
  uint8_t empty = 0;
  const auto target = [&](uint32_t offset) { return declared == 0 ? &empty : buffer.data() + offset; };
  // Reads land at their final offset: nothing to copy.
  const auto store = [](uint8_t*, uint32_t) { return true; };
  return static_cast<int32_t>(ReadBody(*request, declared, target, store));
}

int32_t UpdateServerClient::FetchToFile(const std::u16string& path, platform::File& file) {
  std::shared_lock<std::shared_mutex> lock;
  std::unique_ptr<platform::HttpRequest> request = OpenGet(path, lock);
  if (request == nullptr) return -1;
  uint32_t declared = 0;
  // The result counts bytes in 31 bits.
  if (!request->QueryContentLength(&declared) || declared > static_cast<uint32_t>(INT32_MAX)) return -1;
  std::vector<uint8_t> readBuffer(std::max<uint32_t>(std::min(declared, kReadSize), 1));
  const auto target = [&](uint32_t) { return readBuffer.data(); };
  const auto store = [&](const uint8_t* data, uint32_t n) { return file.Write(data, n); };
  return static_cast<int32_t>(ReadBody(*request, declared, target, store));
}
