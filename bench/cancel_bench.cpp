// How soon a cancel ends a running transfer (UpdateServerClient, libcurl transport),
// against a server on loopback that answers the head and then sends nothing more, or
// trickles a byte every 50 ms. Each sample cancels a transfer that has been waiting for
// a while and measures how long the fetch takes to return.
// Usage: cancel_bench [SAMPLES] (default 20).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "net/update_server_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// Answers every request with a head that promises 1 MiB, then sends nothing (or one
// byte every `trickle`) until the client hangs up.
class StallingServer {
 public:
  explicit StallingServer(std::chrono::milliseconds trickle) : trickle_(trickle) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(local);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
      std::perror("listen");
      std::exit(2);
    }
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~StallingServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }
  // Requests whose head has gone out.
  int answered() const { return answered_.load(); }

 private:
  void Run() {
    while (!stop_) {
      pollfd ready{listener_, POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0) continue;
      const int connection = ::accept(listener_, nullptr, nullptr);
      if (connection < 0) continue;
      Serve(connection);
      ::close(connection);
    }
  }
  void Serve(int connection) {
    std::string request;
    char buffer[4096];
    while (!stop_ && request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n";
    if (::send(connection, head.data(), head.size(), MSG_NOSIGNAL) < 0) return;
    ++answered_;
    auto next = Clock::now() + trickle_;
    while (!stop_) {
      pollfd hangUp{connection, POLLIN, 0};
      if (::poll(&hangUp, 1, 10) > 0 && ::recv(connection, buffer, sizeof buffer, 0) <= 0) return;
      if (trickle_.count() > 0 && Clock::now() >= next) {
        if (::send(connection, "x", 1, MSG_NOSIGNAL) < 0) return;
        next += trickle_;
      }
    }
  }

  std::chrono::milliseconds trickle_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> answered_{0};
  std::thread thread_;
};

void Measure(const char* name, std::chrono::milliseconds trickle, int samples) {
  StallingServer server(trickle);
  UpdateServerClient client(UpdateServerAddress{u"127.0.0.1", server.port()});
  std::vector<double> milliseconds;
  for (int i = 0; i < samples; ++i) {
    CancelToken token;
    FetchResult result;
    std::thread fetch([&] {
      std::vector<uint8_t> buffer;
      result = client.FetchToBuffer(u"files\\big.bin", buffer, OperationContext(&token, ProgressSink::None()));
    });
    const int before = server.answered();
    while (server.answered() == before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Well inside a wait, at a different moment of it each time.
    std::this_thread::sleep_for(std::chrono::milliseconds(200 + 37 * (i % 7)));
    const auto cancelled = Clock::now();
    token.Cancel();
    fetch.join();
    milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - cancelled).count());
    if (result.failure != FetchFailure::kCancelled) {
      std::printf("sample %d did not end as cancelled\n", i);
      std::exit(1);
    }
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  std::printf("%-28s %d samples: median %6.1f ms, slowest %6.1f ms\n", name, samples,
              milliseconds[milliseconds.size() / 2], milliseconds.back());
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::printf("time from cancel to the end of the fetch (the goal: about half a second at most)\n");
  Measure("head, then nothing", std::chrono::milliseconds(0), samples);
  Measure("a byte every 50 ms", std::chrono::milliseconds(50), samples);
  return 0;
}
