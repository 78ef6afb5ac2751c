#pragma once
// HTTP/1.1 GET transfers: a session opened with a user agent, a connection to
// host:port, and one request per resource whose body is read in pieces.
// WinINet on Windows, libcurl on POSIX.
//
// No transfer waits without bound: a connection must be made within the connect
// timeout, and a transfer (the wait for the response head included) that receives
// less than the low-speed limit over the low-speed time fails as timed out. Every
// wait lasts at most kHttpWaitSlice at a time, so a cancel flag is noticed at once.
//
// No cached copy ever answers for the server: every resource changes at the same name
// from one release to the next, so requests skip and do not fill a local cache and ask
// proxies to revalidate ("Cache-Control: no-cache", "Pragma: no-cache").

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

inline constexpr std::chrono::milliseconds kHttpWaitSlice{100};

// Why a request or a read failed, as far as the transport can tell.
enum class HttpError : uint8_t {
  kNone,
  kRefused,          // no connection to the server could be made
  kNameNotResolved,  // the host name is unknown
  kTimedOut,         // no connection within the connect timeout, or the server stalled or trickled
  kBrokenOff,        // the connection ended before the response did
  kCancelled,        // the request's cancel flag was set
  kFailed,           // anything else: no handle, a local failure
};

// The bounds of every transfer of a session. These are the product's values; tests
// set shorter ones.
struct HttpLimits {
  // A host that cannot be reached within this is given up.
  std::chrono::milliseconds connectTimeout{15000};
  // A transfer that receives less than lowSpeedBytesPerSecond on average over
  // lowSpeedTime fails: one that says nothing, or one byte every 20 s, is a stalled
  // server, however slow a real line may be.
  uint32_t lowSpeedBytesPerSecond = 1;
  std::chrono::milliseconds lowSpeedTime{30000};
};

// What a GET carries besides its name.
struct HttpGetOptions {
  // Above 0: only the body from this byte on is asked for ("Range: bytes=N-").
  uint64_t rangeStart = 0;
  // With a range: the ETag or Last-Modified date of the body already received, sent as
  // If-Range, so that a resource that changed meanwhile comes whole (status 200).
  std::string ifRange;
  // Looked at during every wait; once set, the request ends with kCancelled.
  const std::atomic<bool>* cancel = nullptr;
};

// Response headers a caller may read as text.
enum class HttpHeader { kContentRange, kETag, kLastModified };

// One GET. Destroying it closes the request; a body that was not read to its end
// may cost the connection, which the next request then opens again.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Sends the request and waits for the response head; false when no response came.
  virtual bool Send() = 0;
  virtual bool QueryStatusCode(uint32_t* code) = 0;
  // False when the response has no Content-Length.
  virtual bool QueryContentLength(uint64_t* length) = 0;
  // False when the response does not carry the header.
  virtual bool QueryHeader(HttpHeader header, std::string* value) = 0;
  // Reads up to `size` bytes, fewer only at the end of the body (0 once it is over).
  // False when the transfer broke off with nothing more to give.
  virtual bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
  // Why Send or Read failed; kNone while neither did.
  virtual HttpError error() const = 0;
};

// A server's host and port; requests on it reuse one kept-alive connection while
// they run one after another. Requests may run on several threads at once, but every
// request must be closed before its connection.
class HttpConnection {
 public:
  virtual ~HttpConnection() = default;
  // `objectName` is the request target without its leading "/", already escaped;
  // it is sent as given. Null when no request could be made.
  virtual std::unique_ptr<HttpRequest> OpenGet(const std::string& objectName, const HttpGetOptions& options) = 0;
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // Nothing goes over the network yet: the first request connects.
  virtual std::unique_ptr<HttpConnection> Connect(const std::u16string& host, uint16_t port) = 0;
};

// Null when the platform's HTTP layer cannot be set up.
std::unique_ptr<HttpSession> OpenHttpSession(const std::u16string& userAgent, const HttpLimits& limits);

}  // namespace platform
