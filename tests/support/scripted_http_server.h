#pragma once
// A small HTTP/1.1 server on a loopback address, run on threads of the test process,
// that answers each request target the way the test scripted it and records what it
// received. Connections are kept alive unless the script ends them. It can also play
// a broken server: one that never answers, stalls, trickles, breaks off, or handles
// Range requests well or badly.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/gate.h"
#include "support/tcp_socket.h"

namespace testsupport {

struct ScriptedResponse {
  int status = 200;
  std::string body;
  // Without a Content-Length the body is ended by closing the connection.
  bool sendContentLength = true;
  // The body goes out with "Transfer-Encoding: chunked" (in chunks of 1,000 bytes) and no
  // Content-Length; with `dropAfter`, the connection closes after that many body bytes,
  // before the last chunk.
  bool chunked = false;
  // Declared instead of the body's size.
  std::optional<uint64_t> declaredLength;
  // More header lines, each without its CR LF ("ETag: \"1\"").
  std::vector<std::string> headers;
  // Sends this many body bytes, then closes the connection.
  std::optional<std::size_t> dropAfter;
  // Waits between the head and the body.
  std::chrono::milliseconds delayBeforeBody{0};
  // Sends this many body bytes, waits `pauseFor`, then sends the rest.
  std::optional<std::size_t> pauseAfter;
  std::chrono::milliseconds pauseFor{0};
  // Held at this gate before anything is sent (with `pauseAfter`: after that many body
  // bytes, instead of waiting `pauseFor`) until the test opens it or the server stops.
  std::shared_ptr<Gate> gate;
  // Reads the request and then says nothing, keeping the connection open.
  bool neverAnswer = false;
  // Sends this many body bytes (0: the head alone), then nothing more, keeping the
  // connection open.
  std::optional<std::size_t> stallAfter;
  // Above 0: the body goes out one byte at a time, this far apart.
  std::chrono::milliseconds trickle{0};
  // A request with "Range: bytes=N-" gets status 206, the body from byte N on and its
  // Content-Range; otherwise the range is ignored (status 200, the whole body).
  bool honourRange = false;
  // Sent on such a 206 instead of the right Content-Range; empty: no Content-Range.
  std::optional<std::string> contentRange;
};

class ScriptedHttpServer {
 public:
  // Port 0 takes a free one; see port().
  explicit ScriptedHttpServer(const std::string& address = "127.0.0.1", uint16_t port = 0);
  ~ScriptedHttpServer();
  ScriptedHttpServer(const ScriptedHttpServer&) = delete;
  ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

  bool listening() const { return listener_.isValid(); }
  uint16_t port() const { return port_; }

  // `target` as it appears in the request line, e.g. "/version". Unknown targets get 404.
  void Serve(const std::string& target, ScriptedResponse response);
  // Answers the next request for `target` alone; such answers are used up in the order
  // they were given, before the one Serve set.
  void ServeOnce(const std::string& target, ScriptedResponse response);

  // Each request line as received, without its CR LF.
  std::vector<std::string> requestLines() const;
  // Each request head (request line and header lines) as received.
  std::vector<std::string> requestHeads() const;
  int connections() const { return connections_.load(); }
  // Body bytes sent so far, over all responses.
  uint64_t bodyBytesSent() const { return bodyBytesSent_.load(); }

 private:
  void AcceptLoop();
  void ServeConnection(TcpSocket socket);
  // False when the connection is to be closed.
  bool Respond(const TcpSocket& socket, const std::string& target, const std::string& head);
  ScriptedResponse ResponseFor(const std::string& target);
  // The body in chunked encoding, with the closing empty chunk when `last`.
  static std::string Chunked(const std::string& body, bool last);
  bool SendBody(const TcpSocket& socket, const ScriptedResponse& response, const std::string& body);
  // Keeps a connection open and silent until the client hangs up or the server stops.
  void HoldOpen(const TcpSocket& socket);
  // Sleeps, but returns early once the server stops; false then.
  bool Sleep(std::chrono::milliseconds duration);

  TcpSocket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<uint64_t> bodyBytesSent_{0};
  mutable std::mutex mutex_;
  std::map<std::string, ScriptedResponse> responses_;
  std::map<std::string, std::deque<ScriptedResponse>> onceResponses_;
  std::vector<std::string> heads_;
  std::vector<std::thread> connectionThreads_;
  std::thread acceptThread_;
};

// A listening port whose connection queue is full, so that further connections are
// never made: the client waits for its connect timeout.
class UnansweredPort {
 public:
  UnansweredPort();
  bool ready() const { return ready_; }
  uint16_t port() const { return port_; }

 private:
  TcpSocket listener_;
  TcpSocket queued_;
  uint16_t port_ = 0;
  bool ready_ = false;
};

}  // namespace testsupport
