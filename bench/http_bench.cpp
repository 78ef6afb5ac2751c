// Download throughput of UpdateServerClient (libcurl transport) against libcurl used
// directly, both over one kept-alive connection to the same nginx in the same run:
//   one resource of 1 GiB streamed into a file (FetchToFile; libcurl writes the same file),
//   10,000 resources of 4 KiB fetched into memory (FetchToBuffer; libcurl into a vector).
// Usage: tests/support/with_nginx.sh http_bench [MIB] [COUNT] [ROUNDS]
//   (defaults 1024, 10000, 3); the output file goes to the system temp folder.

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "net/update_server_client.h"
#include "platform/file.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of the calling thread: unlike the wall clock, hardly moved by other work on
// the machine.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string SmallName(int i) {
  char name[32];
  std::snprintf(name, sizeof(name), "small/%05d.bin", i);
  return name;
}

void MakeTree(const std::filesystem::path& root, uint64_t bigBytes, int count) {
  std::mt19937_64 random(20261210);
  std::vector<uint64_t> block(1 << 17);
  std::ofstream big(root / "big.bin", std::ios::binary);
  for (uint64_t written = 0; written < bigBytes;) {
    for (uint64_t& word : block) word = random();
    const uint64_t piece = std::min<uint64_t>(bigBytes - written, block.size() * sizeof(uint64_t));
    big.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(piece));
    written += piece;
  }
  std::filesystem::create_directories(root / "small");
  for (int i = 0; i < count; ++i) {
    for (std::size_t w = 0; w < 512; ++w) block[w] = random();
    std::ofstream(root / SmallName(i), std::ios::binary).write(reinterpret_cast<const char*>(block.data()), 4096);
  }
}

// libcurl as anyone would use it: one easy handle, curl_easy_perform per resource.
class DirectCurl {
 public:
  explicit DirectCurl(uint16_t port) : base_("http://127.0.0.1:" + std::to_string(port) + "/") {
    curl_ = curl_easy_init();
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  }
  ~DirectCurl() { curl_easy_cleanup(curl_); }

  // Bytes received, -1 on failure.
  int64_t ToFile(const std::string& name, std::FILE* file) {
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &WriteFile);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, file);
    return Perform(name);
  }
  int64_t ToBuffer(const std::string& name, std::vector<uint8_t>* buffer) {
    buffer->clear();
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, buffer);
    return Perform(name) == static_cast<int64_t>(buffer->size()) ? static_cast<int64_t>(buffer->size()) : -1;
  }

 private:
  static size_t WriteFile(char* data, size_t size, size_t count, void* user) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(user)) * size;
  }
  static size_t Append(char* data, size_t size, size_t count, void* user) {
    auto* buffer = static_cast<std::vector<uint8_t>*>(user);
    buffer->insert(buffer->end(), data, data + size * count);
    return size * count;
  }
  int64_t Perform(const std::string& name) {
    const std::string url = base_ + name;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    if (curl_easy_perform(curl_) != CURLE_OK) return -1;
    curl_off_t bytes = 0;
    curl_easy_getinfo(curl_, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
    return bytes;
  }

  std::string base_;
  CURL* curl_;
};

struct Best {
  double client = 1e300;
  double curl = 1e300;
  double clientCpu = 1e300;
  double curlCpu = 1e300;
};

}  // namespace

int main(int argc, char** argv) {
  const char* port = std::getenv("SOLMERE_NGINX_PORT");
  const char* rootText = std::getenv("SOLMERE_NGINX_ROOT");
  if (port == nullptr || rootText == nullptr) {
    std::fprintf(stderr, "run through tests/support/with_nginx.sh\n");
    return 2;
  }
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  const uint64_t bigBytes = mib << 20;
  const auto megabytes = static_cast<double>(bigBytes) / 1e6;
  const auto serverPort = static_cast<uint16_t>(std::atoi(port));
  const std::filesystem::path root(rootText);
  const std::filesystem::path out = std::filesystem::temp_directory_path() / "solmere-http-bench.bin";

  auto start = Clock::now();
  MakeTree(root, bigBytes, count);
  std::printf("server tree: %llu MiB in one file, %d files of 4 KiB (%.1f s to write)\n",
              static_cast<unsigned long long>(mib), count, SecondsSince(start));

  curl_global_init(CURL_GLOBAL_DEFAULT);
  UpdateServerClient client(UpdateServerAddress{u"127.0.0.1", serverPort});
  client.Connect();
  DirectCurl curl(serverPort);
  Best big;
  Best small;
  bool ok = true;
  std::vector<uint8_t> buffer;
  for (int round = 1; round <= rounds; ++round) {
    {
      platform::File file;
      file.Open(out.u16string(), platform::FileMode::kCreate);
      start = Clock::now();
      const int64_t got = client.FetchToFile(u"big.bin", file).received;
      file.Close();
      const double seconds = SecondsSince(start);
      ok = ok && got == static_cast<int64_t>(bigBytes);
      big.client = std::min(big.client, seconds);
      std::printf("round %d  1 resource  UpdateServerClient::FetchToFile  %8.1f MB/s\n", round, megabytes / seconds);
    }
    {
      std::FILE* file = std::fopen(out.string().c_str(), "wb");
      start = Clock::now();
      const int64_t got = curl.ToFile("big.bin", file);
      std::fclose(file);
      const double seconds = SecondsSince(start);
      ok = ok && got == static_cast<int64_t>(bigBytes);
      big.curl = std::min(big.curl, seconds);
      std::printf("round %d  1 resource  libcurl to a file                %8.1f MB/s\n", round, megabytes / seconds);
    }
    {
      start = Clock::now();
      const double cpuStart = ThreadCpuSeconds();
      for (int i = 0; i < count; ++i) {
        const std::string name = SmallName(i);
        ok = ok && client.FetchToBuffer(std::u16string(name.begin(), name.end()), buffer).received == 4096;
      }
      small.clientCpu = std::min(small.clientCpu, ThreadCpuSeconds() - cpuStart);
      const double seconds = SecondsSince(start);
      small.client = std::min(small.client, seconds);
      std::printf("round %d  %d x 4 KiB  UpdateServerClient::FetchToBuffer %8.0f requests/s\n", round, count,
                  count / seconds);
    }
    {
      start = Clock::now();
      const double cpuStart = ThreadCpuSeconds();
      for (int i = 0; i < count; ++i) ok = ok && curl.ToBuffer(SmallName(i), &buffer) == 4096;
      small.curlCpu = std::min(small.curlCpu, ThreadCpuSeconds() - cpuStart);
      const double seconds = SecondsSince(start);
      small.curl = std::min(small.curl, seconds);
      std::printf("round %d  %d x 4 KiB  libcurl into a vector             %8.0f requests/s\n", round, count,
                  count / seconds);
    }
  }
  std::filesystem::remove(out);
  std::printf("\nbest of %d rounds:\n", rounds);
  std::printf("  %llu MiB: UpdateServerClient %.1f MB/s, libcurl %.1f MB/s, ratio %.2f\n",
              static_cast<unsigned long long>(mib), megabytes / big.client, megabytes / big.curl,
              big.curl / big.client);
  std::printf("  4 KiB:   UpdateServerClient %.0f requests/s, libcurl %.0f requests/s, ratio %.2f\n",
              count / small.client, count / small.curl, small.curl / small.client);
  std::printf("  4 KiB:   client CPU per request: UpdateServerClient %.1f us, libcurl %.1f us\n",
              small.clientCpu / count * 1e6, small.curlCpu / count * 1e6);
  // Each side kept its one connection: nginx numbers connections in its access log.
  if (const char* accessLog = std::getenv("SOLMERE_NGINX_ACCESS_LOG")) {
    std::ifstream log(accessLog);
    std::vector<std::string> serials;
    for (std::string line; std::getline(log, line);) serials.push_back(line.substr(0, line.find(' ')));
    std::sort(serials.begin(), serials.end());
    const auto connections = std::unique(serials.begin(), serials.end()) - serials.begin();
    std::printf("  nginx saw %zu requests on %td connections\n", serials.size(), connections);
  }
  // Peak memory shows that a 1 GiB body never sits in memory on the way to its file.
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) std::printf("  peak resident memory of this process: %s\n", line.c_str() + 6);
  }
  if (!ok) std::printf("SOME TRANSFERS FAILED\n");
  return ok ? 0 : 1;
}
