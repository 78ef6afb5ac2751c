// An update package of about 500 MB (2,000 files, about 1 GiB of contents, half of them
// for the archives and half plain files) applied by ClientArchiveSet::ApplyPackage to a
// client that holds older versions of all of them. The reference, in the same run: zlib
// inflate and MD5 of every record's stored bytes, read from the same package, on one core.
// Prints the times, the processor time and the peak memory of the application.
//
//   package_bench DIR [ROUNDS]        prepares DIR (once), then measures; each figure is the
//                                     best of ROUNDS runs (3 by default), interleaved
//   package_bench DIR --once THREADS  one application alone (for a profiler), with its time
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
#include "formats/update_package_format.h"
#include "platform/md5.h"
#include "process_time.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 2000;
constexpr std::size_t kTotalBytes = std::size_t{1} << 30;

// Content that compresses to about half: random bytes mixed with runs.
void FillContent(std::mt19937& random, std::vector<uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t run = std::min<std::size_t>(bytes.size() - i, 16 + random() % 64);
    if (random() % 2 == 0) {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(i), run, static_cast<uint8_t>(random()));
    } else {
      for (std::size_t k = 0; k < run; ++k) bytes[i + k] = static_cast<uint8_t>(random());
    }
    i += run;
  }
}

std::vector<uint8_t> Deflated(const std::vector<uint8_t>& content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::vector<uint8_t> packed(size);
  compress2(packed.data(), &size, content.data(), static_cast<uLong>(content.size()), 1);
  packed.resize(size);
  return packed.size() < content.size() ? packed : content;
}

std::string Name(int i) {
  const bool archived = i % 2 == 0;
  std::string name =
      archived ? std::string(kArchiveNames[i / 2 % 15].begin(), kArchiveNames[i / 2 % 15].end()) : std::string("data");
  name += "\\d" + std::to_string(i % 40) + "\\f" + std::to_string(i) + ".bin";
  return name;
}

// The client with the older contents (kept in DIR/template) and the package.
bool Prepare(const fs::path& dir) {
  if (fs::exists(dir / "package.cup")) return true;
  fs::remove_all(dir);
  fs::create_directories(dir / "work" / "patcher");
  ClientArchiveSet set(ClientLayout((dir / "work" / "patcher").u16string()), UpdateServerAddress{u"127.0.0.1", 9});
  if (!set.OpenArchives({}).allOpen()) return false;
  std::mt19937 random(17);
  std::ofstream package(dir / "package.cup", std::ios::binary);
  std::vector<uint8_t> index;
  AppendU32(&index, kFiles ^ package_masks::kCount);
  uint32_t offset = kPackageHeaderSize;
  package.write(std::string(kPackageHeaderSize, '\0').data(), kPackageHeaderSize);
  const std::size_t average = kTotalBytes / kFiles;
  std::vector<uint8_t> content;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = Name(i);
    const std::u16string wide(name.begin(), name.end());
    content.resize(average / 2 + random() % average);
    // The client's version first, then the package's.
    FillContent(random, content);
    const std::vector<uint8_t> old = Deflated(content);
    if (i % 2 == 0) {
      if (set.archives()
              .Find(kArchiveNames[i / 2 % 15])
              ->SetFileCompressedData(wide, old.data(), static_cast<uint32_t>(old.size()),
                                      static_cast<uint32_t>(content.size())) != PackageResult::kOk)
        return false;
    } else {
      std::string slashed = name;
      std::replace(slashed.begin(), slashed.end(), '\\', '/');
      const fs::path plain = dir / "work" / "velkar" / slashed;
      fs::create_directories(plain.parent_path());
      std::ofstream(plain, std::ios::binary)
          .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    }
    FillContent(random, content);
    const std::vector<uint8_t> stored = Deflated(content);
    package.write(reinterpret_cast<const char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
    platform::Md5Digest digest;
    platform::ComputeMd5(content.data(), content.size(), &digest);
    index.push_back(static_cast<uint8_t>(wide.size()));
    index.push_back(0);
    for (char16_t unit : wide) {
      index.push_back(static_cast<uint8_t>(unit));
      index.push_back(0);
    }
    for (uint8_t byte : digest) index.push_back(byte);
    AppendU32(&index, static_cast<uint32_t>(content.size()) ^ package_masks::kSize);
    AppendU32(&index, static_cast<uint32_t>(stored.size()) ^ package_masks::kStoredSize);
    AppendU32(&index, offset ^ package_masks::kDataOffset);
    offset += static_cast<uint32_t>(stored.size());
  }
  package.write(reinterpret_cast<const char*>(index.data()), static_cast<std::streamsize>(index.size()));
  std::vector<uint8_t> header;
  AppendU32(&header, 1);
  AppendU32(&header, 2);
  AppendU32(&header, offset ^ package_masks::kIndexOffset);
  package.seekp(0);
  package.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  package.close();
  if (!package || !set.WriteLocalVersion(1).written() || !set.SaveArchives({}).written()) return false;
  fs::rename(dir / "work", dir / "template");
  return true;
}

// Inflate and MD5 of every record of the package in memory, in pieces into reused
// buffers, on this thread; the number of records whose content had the listed digest.
int InflateAndHash(const std::vector<uint8_t>& package) {
  std::size_t at = LoadLeU32(package.data() + 8) ^ package_masks::kIndexOffset;
  const uint32_t count = LoadLeU32(package.data() + at) ^ package_masks::kCount;
  at += 4;
  std::vector<uint8_t> out(256 * 1024);
  z_stream stream{};
  inflateInit(&stream);
  int right = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const std::size_t nameLength = package[at] | package[at + 1] << 8;
    at += 2 + 2 * nameLength;
    platform::Md5Digest listed;
    std::copy_n(package.begin() + static_cast<std::ptrdiff_t>(at), 16, listed.begin());
    const uint32_t size = LoadLeU32(package.data() + at + 16) ^ package_masks::kSize;
    const uint32_t stored = LoadLeU32(package.data() + at + 20) ^ package_masks::kStoredSize;
    const uint32_t offset = LoadLeU32(package.data() + at + 24) ^ package_masks::kDataOffset;
    at += 28;
    platform::Md5 md5;
    if (stored >= size) {
      md5.Update(package.data() + offset, stored);
    } else {
      inflateReset(&stream);
      stream.next_in = const_cast<uint8_t*>(package.data() + offset);
      stream.avail_in = stored;
      int status = Z_OK;
      while (status == Z_OK) {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        status = inflate(&stream, Z_NO_FLUSH);
        md5.Update(out.data(), out.size() - stream.avail_out);
      }
    }
    platform::Md5Digest digest;
    if (md5.Finish(&digest) && digest == listed) ++right;
  }
  inflateEnd(&stream);
  return right;
}

// The reference in a child process of its own, so that the package it holds in memory
// never counts towards the application's peak memory.
bool MeasureReference(const fs::path& dir, double* seconds) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    std::ifstream in(dir / "package.cup", std::ios::binary);
    const std::vector<uint8_t> package((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto start = std::chrono::steady_clock::now();
    const int right = InflateAndHash(package);
    std::FILE* out = std::fopen((dir / "reference-time").c_str(), "w");
    std::fprintf(out, "%.6f", Seconds(start));
    std::fclose(out);
    _exit(right == kFiles ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::ifstream(dir / "reference-time") >> *seconds;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Measured {
  double seconds = 1e9;
  double cpu = 0;
  long peakMiB = 0;
};

// A fresh copy of the older client.
void CopyTemplate(const fs::path& dir) {
  fs::remove_all(dir / "work");
  fs::copy(dir / "template", dir / "work", fs::copy_options::recursive);
}

// The package applied to the copy of the older client and saved: 0 when all of it was
// stored; its time goes to DIR/apply-time.
int ApplyChild(const fs::path& dir, int threads) {
  ClientArchiveSet set(ClientLayout((dir / "work" / "patcher").u16string()), UpdateServerAddress{u"127.0.0.1", 9});
  set.SetCheckThreads(threads);
  if (!set.OpenArchives({}).allOpen()) return 1;
  const auto start = std::chrono::steady_clock::now();
  const ApplyResult result = set.ApplyPackage({}, (dir / "package.cup").u16string());
  const bool saved = set.SaveArchives({}).written();
  const double seconds = Seconds(start);
  std::FILE* out = std::fopen((dir / "apply-time").c_str(), "w");
  std::fprintf(out, "%.6f", seconds);
  std::fclose(out);
  return result.applied() && saved && set.filesStored() == kFiles ? 0 : 1;
}

// A fresh copy of the older client, and the package applied to it in a child process.
bool MeasureApply(const fs::path& dir, int threads, Measured* best) {
  CopyTemplate(dir);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) _exit(ApplyChild(dir, threads));
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  double seconds = 0;
  std::ifstream(dir / "apply-time") >> seconds;
  if (seconds < best->seconds) *best = {seconds, CpuSeconds(usage), usage.ru_maxrss / 1024};
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: package_bench DIR [ROUNDS]\n       package_bench DIR --once THREADS\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[1]);
  // One application alone, for a profiler.
  if (argc == 4 && std::string(argv[2]) == "--once") {
    if (!Prepare(dir)) return 1;
    CopyTemplate(dir);
    const int status = ApplyChild(dir, std::atoi(argv[3]));
    double seconds = 0;
    std::ifstream(dir / "apply-time") >> seconds;
    std::printf("%s threads: applied and saved in %.2f s\n", argv[3], seconds);
    return status;
  }
  const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 3;
  if (!Prepare(dir)) {
    std::fprintf(stderr, "package_bench: preparing %s failed\n", dir.c_str());
    return 1;
  }
  const double packageMiB = static_cast<double>(fs::file_size(dir / "package.cup")) / (1 << 20);
  const int cores = PassSettings::DefaultThreads();
  double reference = 1e9;
  Measured serial;
  Measured parallel;
  for (int round = 0; round < rounds; ++round) {
    double seconds = 0;
    if (!MeasureReference(dir, &seconds)) return 1;
    reference = std::min(reference, seconds);
    if (!MeasureApply(dir, 1, &serial) || !MeasureApply(dir, cores, &parallel)) {
      std::fprintf(stderr, "package_bench: the package did not apply\n");
      return 1;
    }
  }
  fs::remove_all(dir / "work");
  std::printf("package: %d files, %.0f MiB, %.0f MiB of contents, best of %d runs\n", kFiles, packageMiB,
              static_cast<double>(kTotalBytes) / (1 << 20), rounds);
  std::printf("inflate + MD5 of every record, one core:   %6.2f s\n", reference);
  std::printf("applied, 1 thread:                          %6.2f s  cpu %5.2f s  peak memory %ld MiB\n", serial.seconds,
              serial.cpu, serial.peakMiB);
  std::printf("applied, %d threads:                         %6.2f s  cpu %5.2f s  peak memory %ld MiB\n", cores,
              parallel.seconds, parallel.cpu, parallel.peakMiB);
  std::printf("ratio applied (%d threads) / inflate + MD5: %.2f\n", cores, parallel.seconds / reference);
  return 0;
}
