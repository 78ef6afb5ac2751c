// The file pass at internet distance: FILES changed files of SIZE bytes fetched from nginx
// through a loopback proxy that holds every byte from the client DELAY ms before passing it
// on (so every request is answered DELAY ms late), on 1 and on 4 connections in the same
// run, beside the bound FILES x DELAY / 4 + bytes / bandwidth (the bandwidth measured
// through the proxy with one large file), and on 4 connections with a mirror listed after the
// server (every body checked as it comes) and with a first server that is down; then a 64 MiB
// file with 1 % changed made of chunks, on 1 and on 4 connections.
// Usage: tests/support/with_nginx.sh latency_bench [FILES] [SIZE] [DELAY_MS]
//   (defaults 3000, 8192, 50); the clients go to the system temp folder.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/progress_counters.h"
#include "engine/client_archive_set.h"
#include "engine/server_tree.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int ConnectTo(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::perror("connect to nginx");
    std::exit(1);
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return fd;
}

// Bytes from `from` to `to`, each passed on `delay` after it arrived; pieces that arrive
// meanwhile wait in order, so that the delay adds to no more than itself.
void Relay(int from, int to, std::chrono::milliseconds delay) {
  struct Piece {
    Clock::time_point due;
    std::vector<char> bytes;
  };
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Piece> pieces;
  bool ended = false;
  std::thread writer([&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      arrived.wait(lock, [&] { return ended || !pieces.empty(); });
      if (pieces.empty()) break;
      Piece piece = std::move(pieces.front());
      pieces.pop_front();
      lock.unlock();
      std::this_thread::sleep_until(piece.due);
      for (std::size_t sent = 0; sent < piece.bytes.size();) {
        const ssize_t n = send(to, piece.bytes.data() + sent, piece.bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      lock.lock();
    }
    shutdown(to, SHUT_WR);
  });
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    const ssize_t n = recv(from, buffer.data(), buffer.size(), 0);
    if (n <= 0) break;
    std::lock_guard<std::mutex> lock(mutex);
    pieces.push_back({Clock::now() + delay, std::vector<char>(buffer.begin(), buffer.begin() + n)});
    arrived.notify_one();
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
  }
  arrived.notify_one();
  writer.join();
}

// A proxy on a loopback port of its own: requests reach nginx `delay` late, answers come
// back at once. Runs until the process ends.
uint16_t StartDelayingProxy(uint16_t nginxPort, std::chrono::milliseconds delay) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener, 64) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("proxy");
    std::exit(1);
  }
  std::thread([listener, nginxPort, delay] {
    for (;;) {
      const int client = accept(listener, nullptr, nullptr);
      if (client < 0) continue;
      const int one = 1;
      setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      const int server = ConnectTo(nginxPort);
      std::thread([client, server, delay] {
        std::thread back([client, server] { Relay(server, client, std::chrono::milliseconds(0)); });
        Relay(client, server, delay);
        back.join();
        close(client);
        close(server);
      }).detach();
    }
  }).detach();
  return ntohs(address.sin_port);
}

// A loopback port nobody listens on: a server that is down.
uint16_t UnusedPort() {
  const int socketFd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (socketFd < 0 || bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("port");
    std::exit(1);
  }
  close(socketFd);
  return ntohs(address.sin_port);
}

// One update of a client at 1 to 2 from `servers`, empty but for what `prepare` puts in its
// folder; seconds of its list and file pass.
double FilePass(const std::filesystem::path& root, const std::vector<UpdateServerAddress>& servers, int connections,
                int files, const std::function<void(const std::filesystem::path&)>& prepare = nullptr) {
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root / "patcher");
  std::filesystem::create_directories(root / "config" / "patcher");
  if (prepare) prepare(root);
  ClientArchiveSet set(ClientLayout((root / "patcher").u16string()), servers);
  set.SetConnections(connections);
  ProgressCounters progress;
  const OperationContext context(nullptr, progress);
  if (!set.OpenArchives({}).allOpen()) std::exit(1);
  const Clock::time_point start = Clock::now();
  if (set.GetList(context, 1, 2).version != 2) {
    std::fprintf(stderr, "the list could not be had\n");
    std::exit(1);
  }
  const CheckResult result = set.CheckFiles(context, false);
  const double seconds = SecondsSince(start);
  if (result.outcome != CheckResult::Outcome::kDone || set.filesStored() != files) {
    std::fprintf(stderr, "the file pass failed (outcome %d, %d files stored)\n", static_cast<int>(result.outcome),
                 set.filesStored());
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 3000;
  const int size = argc > 2 ? std::atoi(argv[2]) : 8192;
  const int delayMs = argc > 3 ? std::atoi(argv[3]) : 50;
  const char* nginxRoot = std::getenv("SOLMERE_NGINX_ROOT");
  const char* nginxPort = std::getenv("SOLMERE_NGINX_PORT");
  if (nginxRoot == nullptr || nginxPort == nullptr || files <= 0 || size <= 0 || delayMs < 0) {
    std::fprintf(stderr, "usage: tests/support/with_nginx.sh latency_bench [FILES] [SIZE] [DELAY_MS]\n");
    return 2;
  }
  const std::chrono::milliseconds delay(delayMs);
  const uint16_t port = StartDelayingProxy(static_cast<uint16_t>(std::atoi(nginxPort)), delay);

  // Random bytes, stored raw: what a download costs is its bytes and its round trip.
  std::mt19937 random(20261211);
  std::vector<testsupport::ListedFile> listed;
  for (int i = 0; i < files; ++i) {
    std::string content(static_cast<std::size_t>(size), '\0');
    for (char& c : content) c = static_cast<char>(random());
    listed.push_back({u"data\\" + std::filesystem::path(std::to_string(i) + ".bin").u16string(), content, false});
  }
  const testsupport::ServerTree tree{std::filesystem::path(nginxRoot)};
  tree.PutVersion(2);
  tree.PutChangeList(1, listed);
  // The bandwidth through the proxy: one body of 64 MiB, its round trip taken off.
  std::string big(64u << 20, '\0');
  for (char& c : big) c = static_cast<char>(random());
  tree.Put(u"big.bin", std::vector<uint8_t>(big.begin(), big.end()));
  UpdateServerClient client(UpdateServerAddress{u"127.0.0.1", port});
  std::vector<uint8_t> body;
  const Clock::time_point bigStart = Clock::now();
  if (!client.FetchToBuffer(u"big.bin", body).complete()) return 1;
  const double bigSeconds = std::max(1e-6, SecondsSince(bigStart) - 2.0 * delayMs / 1000.0);
  const double bandwidth = static_cast<double>(big.size()) / bigSeconds;

  const std::filesystem::path root = std::filesystem::temp_directory_path() / "solmere-latency-bench";
  const UpdateServerAddress proxy{u"127.0.0.1", port};
  const UpdateServerAddress down{u"127.0.0.1", UnusedPort()};
  const double four = FilePass(root, {proxy}, 4, files);
  const double one = FilePass(root, {proxy}, 1, files);
  // With a mirror behind it every body is checked on its download's thread; with a first
  // server that is down the release comes from the second.
  const double mirrored = FilePass(root, {proxy, down}, 4, files);
  const double firstDown = FilePass(root, {down, proxy}, 4, files);

  // A large file with 1 % of it changed in 10 places, made of the chunks the client's file
  // holds and those it lacks.
  std::string changed = big;
  const std::size_t piece = big.size() / 10;
  for (std::size_t at = piece / 2; at < big.size(); at += piece)
    for (std::size_t i = at; i < at + big.size() / 1000; ++i) changed[i] = static_cast<char>(random());
  tree.PutChangeList(1, {{u"big.bin", changed, false}});
  tree.PutChunks(changed);
  const auto oldFile = [&big](const std::filesystem::path& folder) {
    // The client's data folder beside the updater's.
    std::filesystem::create_directories(folder / "velkar");
    std::FILE* file = std::fopen((folder / "velkar" / "big.bin").string().c_str(), "wb");
    if (file == nullptr || std::fwrite(big.data(), 1, big.size(), file) != big.size() || std::fclose(file) != 0)
      std::exit(1);
  };
  const double chunkedFour = FilePass(root, {proxy}, 4, 1, oldFile);
  const double chunkedOne = FilePass(root, {proxy}, 1, 1, oldFile);
  std::filesystem::remove_all(root);

  const double bytes = static_cast<double>(files) * size;
  const double bound = files * (delayMs / 1000.0) / 4 + bytes / bandwidth;
  std::printf("%d files of %d bytes, every request %d ms late; bandwidth %.0f MB/s\n", files, size, delayMs,
              bandwidth / 1e6);
  std::printf("1 connection:  %.2f s (one at a time: %.2f s)\n", one, files * (delayMs / 1000.0));
  std::printf("4 connections: %.2f s = %.2f x the bound %.2f s (FILES x DELAY / 4 + bytes / bandwidth)\n", four,
              four / bound, bound);
  std::printf("4 connections, a mirror listed after the server: %.2f s\n", mirrored);
  std::printf("4 connections, the first server down and the release from the second: %.2f s\n", firstDown);
  std::printf(
      "a 64 MiB file with 1 %% changed in 10 places, made of chunks: %.2f s on 1 connection, %.2f s on 4"
      " (the whole file: %.2f s)\n",
      chunkedOne, chunkedFour, bigSeconds + 2.0 * delayMs / 1000.0);
  return 0;
}
