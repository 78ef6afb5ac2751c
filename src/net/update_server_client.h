#pragma once
// Every exchange with the update server: one HTTP GET of one resource, received whole
// into memory or streamed into an open file, with counters for the progress display.

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "net/update_server_address.h"
#include "platform/file.h"
#include "platform/http.h"

class UpdateServerClient {
 public:
  static constexpr char16_t kUserAgent[] = u"Solmere Classic client updater";
  // Bytes asked for per read.
  static constexpr uint32_t kReadSize = 4096;
  // Largest declared length FetchToBuffer holds in memory; lists and version texts
  // are far smaller, and packages go to a file.
  static constexpr uint32_t kMaxBufferLength = 512u * 1024 * 1024;

  // Does not connect: the owner calls Connect, and a fetch connects when needed.
  explicit UpdateServerClient(std::u16string serverHost = kUpdateServerHost, uint16_t port = kUpdateServerPort);
  ~UpdateServerClient();
  UpdateServerClient(const UpdateServerClient&) = delete;
  UpdateServerClient& operator=(const UpdateServerClient&) = delete;

  // Drops the current connection and opens a fresh one to `host`; waits until fetches
  // running on other threads have ended.
  bool Connect();

  // `path` is relative to the server root with "\" separators. Both return -1 when the
  // request failed (no connection, status other than 200, no Content-Length, a name
  // too long, a length that cannot be held), otherwise the bytes received: fewer than
  // declared when the transfer broke off.
  // The buffer is resized to the declared length (missing bytes stay zero); it is
  // left untouched when the fetch fails before that.
  int32_t FetchToBuffer(const std::u16string& path, std::vector<uint8_t>& buffer);
  // Appends the body to a file the caller opened for writing; stops at a failed write.
  int32_t FetchToFile(const std::u16string& path, platform::File& file);

  // The host given at construction, which `host` is set back to after a switch.
  const std::u16string& serverHost() const { return serverHost_; }
  uint16_t port() const { return port_; }

  // Host of the next Connect; set only while no fetch runs.
  std::u16string host;
  // Reads the current transfer is expected to take, and reads done so far.
  std::atomic<int32_t> chunksTotal{0};
  std::atomic<int32_t> chunksDone{0};
  // Content-Length of the most recent transfer, so a caller can tell a broken one.
  std::atomic<uint32_t> declaredLength{0};
  // Body bytes received by every fetch since construction, for a console's summary.
  std::atomic<uint64_t> bytesReceived{0};
  // Speed sample: written by the display thread alone; the client only adds to bytesInSample.
  uint64_t sampleStartTick = 0;
  std::atomic<uint32_t> bytesInSample{0};
  std::atomic<double> bytesPerSecond{0.0};

 private:
  // Opens and sends a GET and checks for status 200. On success `lock` holds the
  // connection shared until the caller has closed the returned request.
  std::unique_ptr<platform::HttpRequest> OpenGet(const std::u16string& path, std::shared_lock<std::shared_mutex>& lock);
  bool ConnectLocked();
  // The read loop shared by both fetches: `target(received)` is where a read lands and
  // `store(data, n)` takes it; a false store ends the transfer.
  template <typename Target, typename Store>
  uint32_t ReadBody(platform::HttpRequest& request, uint32_t declared, Target target, Store store);

  const std::u16string serverHost_;
  const uint16_t port_;
  // Requests hold it shared while they run; Connect replaces the handles exclusively.
  std::shared_mutex handlesMutex_;
  std::unique_ptr<platform::HttpConnection> connection_;
  std::unique_ptr<platform::HttpSession> session_;
};
