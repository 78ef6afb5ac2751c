#include "support/scripted_http_server.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace testsupport {
namespace {

constexpr int kPollMs = 20;
// A gate holds a response until the test opens it; the server's end lets it go sooner.
constexpr std::chrono::hours kGateLimit{1};
// A request head larger than this is not one of ours: the connection is dropped.
constexpr std::size_t kMaxHead = 64 * 1024;

std::string ReasonOf(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

// The N of a "Range: bytes=N-" header line in the head, if there is one.
std::optional<std::size_t> RangeStart(const std::string& head) {
  std::string lower = head;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string key = "\r\nrange: bytes=";
  const std::size_t at = lower.find(key);
  if (at == std::string::npos) return std::nullopt;
  std::size_t digit = at + key.size();
  std::size_t start = 0;
  const std::size_t first = digit;
  for (; digit < lower.size() && std::isdigit(static_cast<unsigned char>(lower[digit])); ++digit)
    start = start * 10 + static_cast<std::size_t>(lower[digit] - '0');
  if (digit == first || digit >= lower.size() || lower[digit] != '-') return std::nullopt;
  return start;
}

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(const std::string& address, uint16_t port)
    : listener_(TcpSocket::Listen(address, port)) {
  if (!listener_.isValid()) return;
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

void ScriptedHttpServer::ServeOnce(const std::string& target, ScriptedResponse response) {
  std::lock_guard<std::mutex> lock(mutex_);
  onceResponses_[target].push_back(std::move(response));
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
    if (!socket.isValid()) continue;
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
      if (!Respond(socket, target, head)) break;
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

ScriptedResponse ScriptedHttpServer::ResponseFor(const std::string& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto once = onceResponses_.find(target);
  if (once != onceResponses_.end() && !once->second.empty()) {
    ScriptedResponse response = std::move(once->second.front());
    once->second.pop_front();
    return response;
  }
  auto found = responses_.find(target);
  if (found != responses_.end()) return found->second;
  ScriptedResponse missing;
  missing.status = 404;
  missing.body = "not found";
  return missing;
}

bool ScriptedHttpServer::Respond(const TcpSocket& socket, const std::string& target, const std::string& requestHead) {
  const ScriptedResponse response = ResponseFor(target);
  if (response.neverAnswer) {
    HoldOpen(socket);
    return false;
  }
  if (response.gate != nullptr && !response.pauseAfter && !response.gate->Pass(kGateLimit, &stop_)) return false;
  int status = response.status;
  std::string body = response.body;
  std::string rangeLine;
  const std::optional<std::size_t> rangeStart = RangeStart(requestHead);
  if (response.honourRange && rangeStart && *rangeStart < body.size()) {
    status = 206;
    rangeLine = response.contentRange.value_or("bytes " + std::to_string(*rangeStart) + "-" +
                                               std::to_string(body.size() - 1) + "/" + std::to_string(body.size()));
    body.erase(0, *rangeStart);
  }
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) + "\r\n";
  if (response.chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else if (response.sendContentLength) {
    const uint64_t declared = status == 206 ? body.size() : response.declaredLength.value_or(body.size());
    head += "Content-Length: " + std::to_string(declared) + "\r\n";
  } else {
    head += "Connection: close\r\n";
  }
  if (!rangeLine.empty()) head += "Content-Range: " + rangeLine + "\r\n";
  for (const std::string& line : response.headers) head += line + "\r\n";
  head += "\r\n";
  if (!socket.SendAll(head.data(), head.size())) return false;
  if (response.delayBeforeBody.count() > 0 && !Sleep(response.delayBeforeBody)) return false;
  if (response.chunked) {
    ScriptedResponse sent = response;
    sent.dropAfter.reset();
    const std::size_t bodyBytes = std::min(body.size(), response.dropAfter.value_or(body.size()));
    if (!SendBody(socket, sent, Chunked(body.substr(0, bodyBytes), !response.dropAfter.has_value()))) return false;
  } else if (!SendBody(socket, response, body)) {
    return false;
  }
  if (response.stallAfter) {
    HoldOpen(socket);
    return false;
  }
  return (response.sendContentLength || response.chunked) && !response.dropAfter.has_value();
}

std::string ScriptedHttpServer::Chunked(const std::string& body, bool last) {
  constexpr std::size_t kChunk = 1000;
  std::string wire;
  for (std::size_t at = 0; at < body.size(); at += kChunk) {
    const std::size_t n = std::min(kChunk, body.size() - at);
    char size[20];
    std::snprintf(size, sizeof(size), "%zx\r\n", n);
    wire += size;
    wire.append(body, at, n);
    wire += "\r\n";
  }
  if (last) wire += "0\r\n\r\n";
  return wire;
}

bool ScriptedHttpServer::SendBody(const TcpSocket& socket, const ScriptedResponse& response, const std::string& body) {
  std::size_t bodyBytes = std::min(body.size(), response.dropAfter.value_or(body.size()));
  bodyBytes = std::min(bodyBytes, response.stallAfter.value_or(bodyBytes));
  if (response.trickle.count() > 0) {
    for (std::size_t at = 0; at < bodyBytes; ++at) {
      if ((at > 0 && !Sleep(response.trickle)) || !socket.SendAll(body.data() + at, 1)) return false;
      ++bodyBytesSent_;
    }
    return true;
  }
  const std::size_t firstPart = std::min(bodyBytes, response.pauseAfter.value_or(bodyBytes));
  if (!socket.SendAll(body.data(), firstPart)) return false;
  bodyBytesSent_ += firstPart;
  if (firstPart < bodyBytes) {
    const bool resumed = response.gate != nullptr ? response.gate->Pass(kGateLimit, &stop_) : Sleep(response.pauseFor);
    if (!resumed || !socket.SendAll(body.data() + firstPart, bodyBytes - firstPart)) return false;
    bodyBytesSent_ += bodyBytes - firstPart;
  }
  return true;
}

void ScriptedHttpServer::HoldOpen(const TcpSocket& socket) {
  char buffer[4096];
  while (!stop_) {
    if (!socket.WaitReadable(kPollMs)) continue;
    if (socket.Receive(buffer, static_cast<int>(sizeof(buffer))) <= 0) return;
  }
}

bool ScriptedHttpServer::Sleep(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    if (stop_) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - std::chrono::steady_clock::now(),
                                                                              std::chrono::milliseconds(kPollMs)));
  }
  return !stop_;
}

UnansweredPort::UnansweredPort() : listener_(TcpSocket::Listen("127.0.0.1", 0, 0)) {
  if (!listener_.isValid()) return;
  port_ = listener_.LocalPort();
  // With no room for waiting connections, one that is never accepted fills the queue;
  // the system then drops the opening packets of every further one.
  queued_ = TcpSocket::Connect("127.0.0.1", port_);
  ready_ = queued_.isValid();
}

}  // namespace testsupport
