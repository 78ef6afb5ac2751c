#pragma once
// A small HTTP/1.1 server on a loopback address, run on threads of the test process,
// that answers each request target the way the test scripted it and records what it
// received. Connections are kept alive unless the script ends them.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/tcp_socket.h"

namespace testsupport {

struct ScriptedResponse {
  int status = 200;
  std::string body;
  // Without a Content-Length the body is ended by closing the connection.
  bool sendContentLength = true;
  // Declared instead of the body's size.
  std::optional<uint64_t> declaredLength;
  // Sends this many body bytes, then closes the connection.
  std::optional<std::size_t> dropAfter;
  // Waits between the head and the body.
  std::chrono::milliseconds delayBeforeBody{0};
  // Sends this many body bytes, waits `pauseFor`, then sends the rest.
  std::optional<std::size_t> pauseAfter;
  std::chrono::milliseconds pauseFor{0};
};

class ScriptedHttpServer {
 public:
  // Port 0 takes a free one; see port().
  explicit ScriptedHttpServer(const std::string& address = "127.0.0.1", uint16_t port = 0);
  ~ScriptedHttpServer();
  ScriptedHttpServer(const ScriptedHttpServer&) = delete;
  ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

  bool listening() const { return listener_.IsValid(); }
  uint16_t port() const { return port_; }

  // `target` as it appears in the request line, e.g. "/version". Unknown targets get 404.
  void Serve(const std::string& target, ScriptedResponse response);

  // Each request line as received, without its CR LF.
  std::vector<std::string> requestLines() const;
  // Each request head (request line and header lines) as received.
  std::vector<std::string> requestHeads() const;
  int connections() const { return connections_.load(); }

 private:
  void AcceptLoop();
  void ServeConnection(TcpSocket socket);
  // False when the connection is to be closed.
  bool Respond(const TcpSocket& socket, const std::string& target);

  TcpSocket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::map<std::string, ScriptedResponse> responses_;
  std::vector<std::string> heads_;
  std::vector<std::thread> connectionThreads_;
  std::thread acceptThread_;
};

}  // namespace testsupport
