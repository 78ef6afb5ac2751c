#pragma once
// Every exchange with the update server: one HTTP GET of one resource, received whole
// into memory or streamed into an open file. Each fetch is given an operation's context:
// it ends soon after the context's cancel token is set, and reports its transfer to the
// context's progress sink. Transfers are bounded in time (see platform::HttpLimits) and
// ask again for the rest of a body that broke off.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/operation_context.h"
#include "net/body_transfer.h"
#include "net/fetch_result.h"
#include "net/rate_pace.h"
#include "net/update_server_address.h"
#include "platform/file.h"
#include "platform/http.h"

class UpdateServerClient {
 public:
  static constexpr char16_t kUserAgent[] = u"Solmere Classic client updater";
  // Bytes asked for per read.
  static constexpr uint32_t kReadSize = BodyTransfer::kReadSize;
  // Largest declared length FetchToBuffer holds in memory; lists and version texts
  // are far smaller, and packages go to a file.
  static constexpr uint32_t kMaxBufferLength = 512u * 1024 * 1024;
  // Largest body FetchToFile writes: it counts bytes in 31 bits, and an update package
  // finds its index and records through 32-bit offsets, so none is larger. The caller
  // lowers it to what the disk can hold.
  static constexpr uint32_t kMaxFileLength = 0x7FFFFFFF;

  // Does not connect: the owner calls Connect, and a fetch connects when needed.
  explicit UpdateServerClient(UpdateServerAddress server, const platform::HttpLimits& limits = {});
  ~UpdateServerClient();
  UpdateServerClient(const UpdateServerClient&) = delete;
  UpdateServerClient& operator=(const UpdateServerClient&) = delete;

  // Drops the current connection and opens a fresh one to the update server; waits
  // until fetches running on other threads have ended.
  bool Connect();
  // Bounds of the transfers from the next connection on (tests use short ones).
  void SetLimits(const platform::HttpLimits& limits);
  // At most this many body bytes a second, for every transfer from now on; 0: no cap.
  // The transfers running at once share it.
  void SetRateLimit(uint64_t bytesPerSecond) { pace_.SetRate(bytesPerSecond); }

  // `path` is relative to the server root with "\" separators. A fetch fails (no
  // connection, status other than 200, a name too long, a length that cannot be held,
  // a timeout, a cancel) with received -1 when no body started,
  // otherwise with the bytes in place: fewer than declared when the body broke off
  // for good. Each failure but a cancel is logged with the resource and its cause.
  //
  // The buffer holds the bytes that arrived (growing as they do, never to a length only
  // declared); it is left untouched when the fetch fails before the body starts. A declared
  // length above `maxLength` (at most kMaxBufferLength) fails the fetch at once; a body
  // without a length (chunked, or ended by the connection's close) fails once it passes it.
  // `optional`: a resource servers need not have; its absence (HTTP 404) is no error.
  // `query` (letters, digits, "=" and "&"), sent after the path and a "?": a static server
  // ignores it, a cache keys on it, so a copy a cache kept of the path is passed by.
  FetchResult FetchToBuffer(const std::u16string& path, std::vector<uint8_t>& buffer,
                            const OperationContext& context = {}, uint32_t maxLength = kMaxBufferLength,
                            bool optional = false, std::string_view query = {});

  struct FileFetch {
    // The host of the body; empty for the update server. Another host (a package
    // named in "patches\list") gets a connection of its own, on the same port, for this
    // fetch alone: the update server's connection is never switched away and back.
    std::u16string host;
    // Largest declared length taken, for example what the disk can hold.
    uint32_t maxLength = kMaxFileLength;
    // A body an earlier run got part of, which ends at the file's position: taken up from
    // there when the server still has the same resource, otherwise fetched whole.
    BodyResume resume;
    // Told the body's length and validator as it starts (see BodyTransfer::StartHook).
    BodyTransfer::StartHook started;
  };
  // Appends the body to a file the caller opened for writing, from its current
  // position; a body that starts over is written there again.
  FetchResult FetchToFile(const std::u16string& path, platform::File& file, const FileFetch& fetch,
                          const OperationContext& context = {});
  FetchResult FetchToFile(const std::u16string& path, platform::File& file) {
    return FetchToFile(path, file, FileFetch{});
  }

  // Where a fetch of `path` went (`host` as in FileFetch) and why it failed, for messages.
  FailedRequest FailureOf(const std::u16string& path, const FetchResult& result, const std::u16string& host = {}) const;

 private:
  FetchResult Fetch(const std::u16string& host, const std::u16string& path, uint32_t maxLength,
                    const OperationContext& context, BodySink& sink, bool optional = false,
                    const BodyResume& resume = {}, const BodyTransfer::StartHook& started = {},
                    std::string_view query = {});
  bool ConnectLocked();
  void Report(const std::u16string& host, const std::u16string& path, const FetchResult& result, bool optional);

  const std::u16string serverHost_;
  const uint16_t port_;
  // Requests hold it shared while they run; Connect and SetLimits replace the handles
  // exclusively.
  std::shared_mutex handlesMutex_;
  platform::HttpLimits limits_;
  std::unique_ptr<platform::HttpConnection> connection_;
  std::unique_ptr<platform::HttpSession> session_;
  RatePace pace_;
};
