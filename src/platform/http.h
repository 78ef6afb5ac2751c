#pragma once
// HTTP/1.1 GET transfers: a session opened with a user agent, a connection to
// host:port, and one request per resource whose body is read in pieces.
// WinINet on Windows, libcurl on POSIX.

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// One GET. Destroying it closes the request; a body that was not read to its end
// may cost the connection, which the next request then opens again.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Sends the request and waits for the response head; false when no response came.
  virtual bool Send() = 0;
  virtual bool QueryStatusCode(uint32_t* code) = 0;
  // False when the response has no Content-Length or its value does not fit 32 bits.
  virtual bool QueryContentLength(uint32_t* length) = 0;
  // Reads up to `size` bytes, fewer only at the end of the body (0 once it is over).
  // False when the transfer broke off with nothing more to give.
  virtual bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
};

// A server's host and port; requests on it reuse one kept-alive connection while
// they run one after another. Requests may run on several threads at once, but every
// request must be closed before its connection.
class HttpConnection {
 public:
  virtual ~HttpConnection() = default;
  // `objectName` is the request target without its leading "/", already escaped;
  // it is sent as given. Null when no request could be made.
  virtual std::unique_ptr<HttpRequest> OpenGet(const std::string& objectName) = 0;
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // Nothing goes over the network yet: the first request connects.
  virtual std::unique_ptr<HttpConnection> Connect(const std::u16string& host, uint16_t port) = 0;
};

// Null when the platform's HTTP layer cannot be set up.
std::unique_ptr<HttpSession> OpenHttpSession(const std::u16string& userAgent);

}  // namespace platform
