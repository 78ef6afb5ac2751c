// Full check of an up-to-date client: about 1 GiB in about 10,000 files, half inside the
// fifteen archives (zlib-stored) and half plain files, checked by ClientArchiveSet::CheckFiles
// against its full list. The reference, in the same run: md5sum over the same contents as
// plain files. Prints both times, their ratio and the check's peak memory.
//
//   check_bench DIR    prepares DIR (once), then measures
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/client_archive_set.h"
#include "platform/md5.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 10000;
constexpr std::size_t kTotalBytes = std::size_t{1} << 30;

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Content that compresses to about half: random bytes mixed with runs.
std::vector<uint8_t> Content(std::mt19937& random, std::size_t size) {
  std::vector<uint8_t> bytes(size);
  for (std::size_t i = 0; i < size;) {
    const std::size_t run = std::min<std::size_t>(size - i, 16 + random() % 64);
    if (random() % 2 == 0) {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(i), run, static_cast<uint8_t>(random()));
    } else {
      for (std::size_t k = 0; k < run; ++k) bytes[i + k] = static_cast<uint8_t>(random());
    }
    i += run;
  }
  return bytes;
}

bool Prepare(const fs::path& dir) {
  if (fs::exists(dir / "fulllist")) return true;
  fs::create_directories(dir / "patcher");
  fs::create_directories(dir / "reference");
  ClientArchiveSet set((dir / "patcher").u16string(), u"127.0.0.1", 9);
  if (!set.OpenArchives()) return false;
  std::mt19937 random(7);
  std::vector<uint8_t> list;
  PutU32(list, kFiles);
  const std::size_t average = kTotalBytes / kFiles;
  for (int i = 0; i < kFiles; ++i) {
    const std::size_t size = average / 2 + random() % average;
    const std::vector<uint8_t> content = Content(random, size);
    const bool archived = i % 2 == 0;
    std::string name =
        archived ? std::string(std::string(kArchiveNames[i / 2 % 15].begin(), kArchiveNames[i / 2 % 15].end()))
                 : std::string("data");
    name += "\\d" + std::to_string(i % 50) + "\\f" + std::to_string(i) + ".bin";
    if (archived) {
      uLongf packedSize = compressBound(static_cast<uLong>(size));
      std::vector<uint8_t> packed(packedSize);
      compress2(packed.data(), &packedSize, content.data(), static_cast<uLong>(size), 1);
      TavrinFilePackage* archive = set.GetPackage(kArchiveNames[i / 2 % 15]);
      const std::u16string wide(name.begin(), name.end());
      if (archive->SetFileCompressedData(wide, packed.data(), static_cast<uint32_t>(packedSize),
                                         static_cast<uint32_t>(size)) != PackageResult::kOk)
        return false;
    }
    std::string slashed = name;
    for (char& c : slashed)
      if (c == '\\') c = '/';
    const fs::path plain = archived ? dir / "reference" / slashed : dir / "velkar" / slashed;
    fs::create_directories(plain.parent_path());
    std::ofstream(plain, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(size));
    if (!archived) {
      fs::create_directories((dir / "reference" / slashed).parent_path());
      fs::create_hard_link(plain, dir / "reference" / slashed);
    }
    platform::Md5Digest digest;
    platform::ComputeMd5(content.data(), size, &digest);
    list.push_back(static_cast<uint8_t>(name.size()));
    list.push_back(0);
    for (char c : name) {
      list.push_back(static_cast<uint8_t>(c));
      list.push_back(0);
    }
    for (uint8_t byte : digest) list.push_back(byte);
    PutU32(list, static_cast<uint32_t>(size));
    PutU32(list, static_cast<uint32_t>(size));
  }
  set.WriteLocalVersion(1);
  set.SaveArchives();
  std::ofstream(dir / "fulllist", std::ios::binary)
      .write(reinterpret_cast<const char*>(list.data()), static_cast<std::streamsize>(list.size()));
  return true;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs in a child process of its own, so that its peak memory is the check's alone.
int CheckChild(const fs::path& dir) {
  std::ifstream in(dir / "fulllist", std::ios::binary);
  const std::vector<uint8_t> list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ClientArchiveSet set((dir / "patcher").u16string(), u"127.0.0.1", 9);
  const auto start = std::chrono::steady_clock::now();
  if (!set.OpenArchives() || !set.ReadList(list.data(), list.size())) return 1;
  const std::size_t entries = set.fileTable.size();
  const int32_t result = set.CheckFiles(false);
  const double seconds = Seconds(start);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("check:  %zu entries, result %d, %.2f s, %.0f MiB/s, peak memory %ld MiB\n", entries, result, seconds,
              static_cast<double>(kTotalBytes) / (1 << 20) / seconds, usage.ru_maxrss / 1024);
  std::fflush(stdout);
  return result == 0 && set.fileTable.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: check_bench DIR\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[1]);
  if (!Prepare(dir)) {
    std::fprintf(stderr, "check_bench: preparing %s failed\n", dir.c_str());
    return 1;
  }
  // Warm the page cache for both sides alike.
  const std::string md5sum =
      "cd '" + dir.string() + "/reference' && find . -type f -print0 | xargs -0 md5sum > /dev/null";
  if (std::system(md5sum.c_str()) != 0) return 1;

  auto start = std::chrono::steady_clock::now();
  if (std::system(md5sum.c_str()) != 0) return 1;
  const double reference = Seconds(start);
  std::printf("md5sum: %d files, %.2f s, %.0f MiB/s\n", kFiles, reference,
              static_cast<double>(kTotalBytes) / (1 << 20) / reference);

  std::fflush(stdout);
  start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) _exit(CheckChild(dir));
  int status = 0;
  waitpid(child, &status, 0);
  const double check = Seconds(start);
  std::printf("ratio check / md5sum: %.2f\n", check / reference);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
