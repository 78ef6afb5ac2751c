#include "support/scripted_http_server.h"

#include <algorithm>

namespace testsupport {
namespace {

constexpr int kPollMs = 20;
// A request head larger than this is not one of ours: the connection is dropped.
constexpr std::size_t kMaxHead = 64 * 1024;

std::string ReasonOf(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(const std::string& address, uint16_t port)
    : listener_(TcpSocket::Listen(address, port)) {
  if (!listener_.IsValid()) return;
  port_ = listener_.LocalPort();
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
  stop_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  // The accept thread has ended: nobody adds connection threads any more.
  for (std::thread& thread : connectionThreads_) thread.join();
}

void ScriptedHttpServer::Serve(const std::string& target, ScriptedResponse response) {
  std::lock_guard<std::mutex> lock(mutex_);
  responses_[target] = std::move(response);
}

std::vector<std::string> ScriptedHttpServer::requestHeads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return heads_;
}

std::vector<std::string> ScriptedHttpServer::requestLines() const {
  std::vector<std::string> lines;
  for (const std::string& head : requestHeads()) lines.push_back(head.substr(0, head.find("\r\n")));
  return lines;
}

void ScriptedHttpServer::AcceptLoop() {
  while (!stop_) {
    if (!listener_.WaitReadable(kPollMs)) continue;
    TcpSocket socket = listener_.Accept();
    if (!socket.IsValid()) continue;
    ++connections_;
    std::thread thread([this, s = std::move(socket)]() mutable { ServeConnection(std::move(s)); });
    connectionThreads_.push_back(std::move(thread));
  }
}

void ScriptedHttpServer::ServeConnection(TcpSocket socket) {
  std::string received;
  char buffer[4096];
  while (!stop_) {
    const std::size_t end = received.find("\r\n\r\n");
    if (end != std::string::npos) {
      const std::string head = received.substr(0, end + 2);
      received.erase(0, end + 4);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        heads_.push_back(head);
      }
      // "GET <target> HTTP/1.1"
      const std::string line = head.substr(0, head.find("\r\n"));
      const std::size_t first = line.find(' ');
      const std::size_t last = line.rfind(' ');
      const std::string target = first < last ? line.substr(first + 1, last - first - 1) : std::string();
      if (!Respond(socket, target)) break;
      continue;
    }
    if (received.size() > kMaxHead) break;
    if (!socket.WaitReadable(kPollMs)) continue;
    const int n = socket.Receive(buffer, static_cast<int>(sizeof(buffer)));
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  socket.ShutdownSend();
  // Closing with unread bytes would reset the connection, and a reset can cost the
  // client body bytes still in flight: wait a little for the client to hang up.
  for (int waited = 0; waited < 1000 && !stop_; waited += kPollMs) {
    if (!socket.WaitReadable(kPollMs)) continue;
    if (socket.Receive(buffer, static_cast<int>(sizeof(buffer))) <= 0) break;
  }
}

bool ScriptedHttpServer::Respond(const TcpSocket& socket, const std::string& target) {
  ScriptedResponse response;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = responses_.find(target);
    if (found != responses_.end()) {
      response = found->second;
    } else {
      response.status = 404;
      response.body = "not found";
    }
  }
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonOf(response.status) + "\r\n";
  if (response.sendContentLength) {
    const uint64_t declared = response.declaredLength.value_or(response.body.size());
    head += "Content-Length: " + std::to_string(declared) + "\r\n";
  } else {
    head += "Connection: close\r\n";
  }
  head += "\r\n";
  if (!socket.SendAll(head.data(), head.size())) return false;
  if (response.delayBeforeBody.count() > 0) std::this_thread::sleep_for(response.delayBeforeBody);
  const std::size_t bodyBytes = std::min(response.body.size(), response.dropAfter.value_or(response.body.size()));
  const std::size_t firstPart = std::min(bodyBytes, response.pauseAfter.value_or(bodyBytes));
  if (!socket.SendAll(response.body.data(), firstPart)) return false;
  if (firstPart < bodyBytes) {
    std::this_thread::sleep_for(response.pauseFor);
    if (!socket.SendAll(response.body.data() + firstPart, bodyBytes - firstPart)) return false;
  }
  return response.sendContentLength && !response.dropAfter.has_value();
}

}  // namespace testsupport
