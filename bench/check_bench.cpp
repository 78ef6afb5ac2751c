// Full check of an up-to-date client: about 1 GiB in about 10,000 files, half inside the
// fifteen archives (zlib-stored) and half plain files, checked by ClientArchiveSet::CheckFiles
// against its full list, on one thread and on every core. The references, in the same run:
// md5sum over the same contents as plain files, one process, and two processes over halves
// of the files; and the least work any check must do on two cores: MD5 of every content and
// zlib inflate of what the archives store compressed, each measured on one core (from
// memory, in pieces into reused buffers), summed and halved. Prints the times, their ratios,
// and the check's processor time and peak memory.
//
//   check_bench DIR [ROUNDS]       prepares DIR (once), then measures; each figure is the
//                                  best of ROUNDS runs (3 by default), interleaved
//   check_bench DIR --once THREADS one check alone (for a profiler), with its phases' times
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "engine/client_archive_set.h"
#include "platform/md5.h"
#include "process_time.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 10000;
constexpr std::size_t kTotalBytes = std::size_t{1} << 30;

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
  ClientArchiveSet set(ClientLayout((dir / "patcher").u16string()), UpdateServerAddress{u"127.0.0.1", 9});
  if (!set.OpenArchives({}).allOpen()) return false;
  std::mt19937 random(7);
  std::vector<uint8_t> list;
  AppendU32(&list, kFiles);
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
      TavrinFilePackage* archive = set.archives().Find(kArchiveNames[i / 2 % 15]);
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
    AppendU32(&list, static_cast<uint32_t>(size));
    AppendU32(&list, static_cast<uint32_t>(size));
  }
  set.WriteLocalVersion(1).written();
  set.SaveArchives({}).written();
  std::ofstream(dir / "fulllist", std::ios::binary)
      .write(reinterpret_cast<const char*>(list.data()), static_cast<std::streamsize>(list.size()));
  return true;
}

// Runs in a child process of its own, so that its peak memory is the check's alone.
int CheckChild(const fs::path& dir, int threads, bool showPhases = false) {
  std::ifstream in(dir / "fulllist", std::ios::binary);
  const std::vector<uint8_t> list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto start = std::chrono::steady_clock::now();
  ClientArchiveSet set(ClientLayout((dir / "patcher").u16string()), UpdateServerAddress{u"127.0.0.1", 9});
  set.SetCheckThreads(threads);
  FileTable table;
  if (!set.OpenArchives({}).allOpen() || !ReadFileList(list.data(), list.size(), &table, {})) return 1;
  set.SetFileTable(std::move(table));
  const double opened = Seconds(start);
  const CheckResult result = set.CheckFiles({}, false);
  if (showPhases)
    std::printf("%d threads: archives and list %.2f s, CheckFiles %.2f s\n", threads, opened, Seconds(start) - opened);
  return result.done() && set.fileTable().empty() ? 0 : 1;
}

struct Measured {
  double seconds = 0;
  double cpu = 0;
  long peakMiB = 0;
};

// One full check in a child process: its wall time, its processor time and its peak memory.
bool MeasureCheck(const fs::path& dir, int threads, Measured* measured) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) _exit(CheckChild(dir, threads));
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  measured->seconds = Seconds(start);
  measured->cpu = CpuSeconds(usage);
  measured->peakMiB = usage.ru_maxrss / 1024;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The contents as plain files, split into two lists of about equal bytes (NUL-separated,
// for xargs -0).
void WriteHalves(const fs::path& dir) {
  std::vector<std::pair<std::string, uintmax_t>> files;
  for (const auto& item : fs::recursive_directory_iterator(dir / "reference"))
    if (item.is_regular_file()) files.emplace_back(item.path().string(), item.file_size());
  std::sort(files.begin(), files.end());
  uintmax_t total = 0;
  for (const auto& file : files) total += file.second;
  std::ofstream halves[2] = {std::ofstream(dir / "half-1"), std::ofstream(dir / "half-2")};
  uintmax_t done = 0;
  for (const auto& file : files) {
    halves[done < total / 2 ? 0 : 1] << file.first << '\0';
    done += file.second;
  }
}

// MD5 of every content and inflate of every archive entry stored compressed, each on this
// thread; each file or entry is read into memory first, outside the time.
struct Reference {
  double hash = 0;
  double inflate = 0;
};

bool MeasureReference(const fs::path& dir, Reference* reference) {
  constexpr std::size_t kPiece = 256 * 1024;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> out(kPiece);
  Reference measured;
  for (const auto& item : fs::recursive_directory_iterator(dir / "reference")) {
    if (!item.is_regular_file()) continue;
    std::ifstream in(item.path(), std::ios::binary);
    bytes.resize(item.file_size());
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) return false;
    const auto start = std::chrono::steady_clock::now();
    platform::Md5 md5;
    for (std::size_t done = 0; done < bytes.size(); done += kPiece)
      md5.Update(bytes.data() + done, std::min(kPiece, bytes.size() - done));
    platform::Md5Digest digest;
    if (!md5.Finish(&digest)) return false;
    measured.hash += Seconds(start);
  }
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  const ClientLayout layout((dir / "patcher").u16string());
  for (std::u16string_view name : kArchiveNames) {
    TavrinFilePackage archive;
    if (archive.OpenReadOnly(layout.ArchiveBasePath(name), std::u16string(name)) != PackageResult::kOk) return false;
    for (const auto& [key, record] : archive.index()) {
      if (record.storedLength == 0 || record.storedLength >= record.uncompressedLength) continue;
      const TavrinFilePackage::StoredPlace place{record.dataPosition, record.storedLength, record.uncompressedLength};
      bytes.resize(record.storedLength);
      if (archive.ReadStored(place, 0, bytes.data(), record.storedLength) != PackageResult::kOk) return false;
      const auto start = std::chrono::steady_clock::now();
      inflateReset(&stream);
      stream.next_in = bytes.data();
      stream.avail_in = static_cast<uInt>(bytes.size());
      int status = Z_OK;
      while (status == Z_OK) {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        status = inflate(&stream, Z_NO_FLUSH);
      }
      measured.inflate += Seconds(start);
      if (status != Z_STREAM_END) return false;
    }
  }
  inflateEnd(&stream);
  *reference = measured;
  return true;
}

double TimeCommand(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return Seconds(start);
}

}  // namespace

// The runs of the different measurements are interleaved, so that load from elsewhere on
// the machine weighs on all of them alike.
int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: check_bench DIR [ROUNDS]\n       check_bench DIR --once THREADS\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[1]);
  // One check alone, for a profiler.
  if (argc == 4 && std::string(argv[2]) == "--once")
    return Prepare(dir) ? CheckChild(dir, std::atoi(argv[3]), true) : 1;
  const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 3;
  if (!Prepare(dir)) {
    std::fprintf(stderr, "check_bench: preparing %s failed\n", dir.c_str());
    return 1;
  }
  WriteHalves(dir);
  const std::string md5sumOne =
      "cd '" + dir.string() + "/reference' && find . -type f -print0 | xargs -0 md5sum > /dev/null";
  const std::string md5sumTwo = "bash -c \"xargs -0 md5sum < '" + (dir / "half-1").string() +
                                "' > /dev/null & xargs -0 md5sum < '" + (dir / "half-2").string() +
                                "' > /dev/null & wait\"";
  // Warm the page cache for every side alike.
  if (TimeCommand(md5sumOne) < 0) return 1;

  const int cores = PassSettings::DefaultThreads();
  double one = 1e9;
  double two = 1e9;
  Reference least{1e9, 1e9};
  Measured serial{1e9, 0, 0};
  Measured parallel{1e9, 0, 0};
  for (int round = 0; round < rounds; ++round) {
    const double oneRun = TimeCommand(md5sumOne);
    const double twoRun = TimeCommand(md5sumTwo);
    if (oneRun < 0 || twoRun < 0) return 1;
    one = std::min(one, oneRun);
    two = std::min(two, twoRun);
    Reference reference;
    if (!MeasureReference(dir, &reference)) return 1;
    least.hash = std::min(least.hash, reference.hash);
    least.inflate = std::min(least.inflate, reference.inflate);
    Measured run;
    if (!MeasureCheck(dir, 1, &run)) return 1;
    if (run.seconds < serial.seconds) serial = run;
    if (!MeasureCheck(dir, cores, &run)) return 1;
    if (run.seconds < parallel.seconds) parallel = run;
  }
  const double mib = static_cast<double>(kTotalBytes) / (1 << 20);
  std::printf("contents: %d files, %.0f MiB, half inside the archives (zlib), best of %d runs\n", kFiles, mib, rounds);
  std::printf("md5sum, one process:                 %6.2f s  %5.0f MiB/s\n", one, mib / one);
  std::printf("md5sum, two processes over halves:   %6.2f s  %5.0f MiB/s\n", two, mib / two);
  const double twoCores = (least.hash + least.inflate) / 2;
  std::printf("MD5 of every content, one core:      %6.2f s\n", least.hash);
  std::printf("inflate of what is compressed, one core: %6.2f s\n", least.inflate);
  std::printf("two-core reference, (MD5 + inflate) / 2: %6.2f s\n", twoCores);
  std::printf("check, 1 thread:                     %6.2f s  %5.0f MiB/s  cpu %5.2f s  peak memory %ld MiB\n",
              serial.seconds, mib / serial.seconds, serial.cpu, serial.peakMiB);
  std::printf("check, %d threads:                    %6.2f s  %5.0f MiB/s  cpu %5.2f s  peak memory %ld MiB\n", cores,
              parallel.seconds, mib / parallel.seconds, parallel.cpu, parallel.peakMiB);
  std::printf("ratio check (%d threads) / md5sum one process:  %.2f\n", cores, parallel.seconds / one);
  std::printf("ratio check (%d threads) / md5sum two processes: %.2f\n", cores, parallel.seconds / two);
  std::printf("ratio check (%d threads) / two-core reference:  %.2f\n", cores, parallel.seconds / twoCores);
  return 0;
}
