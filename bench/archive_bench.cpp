// Archive throughput against zlib on the same data, in one run:
//   store 1 GiB of mixed files (compressible and not), read them back, open an archive of
//   100,000 entries, and save it after a change of one entry; zlib's own compress2/uncompress
//   over the same files as the reference.
// Usage: archive_bench [WORK_DIR] [MIB]   (defaults: the system temp folder, 1024)

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/tavrin_file_package.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Sample {
  std::u16string name;
  std::vector<uint8_t> bytes;
};

// Half the files read like text (they compress about 3:1), half are random bytes.
std::vector<Sample> MakeFiles(uint64_t totalBytes) {
  std::mt19937_64 random(20261209);
  static const char* const kWords[] = {"model", "texture", "sound", "the", "velkar", "quest", "item", "npc",
                                       "0.25",  "1024",    "spawn", "=",   "\n",     "map",   "zone", "shader"};
  std::vector<Sample> files;
  uint64_t made = 0;
  for (int i = 0; made < totalBytes; ++i) {
    // Sizes from 1 KiB to 4 MiB, spread evenly on a log scale.
    const double exponent = 10.0 + static_cast<double>(random() % 1200) / 100.0;
    auto size = static_cast<std::size_t>(std::min<double>(std::exp2(exponent), double(totalBytes - made)));
    Sample file;
    file.name = u"bench\\file" + platform::Utf16FromUtf8(std::to_string(i)) + u".bin";
    file.bytes.resize(size);
    if (i % 2 == 0) {
      std::size_t at = 0;
      while (at < size) {
        const char* word = kWords[random() % 16];
        for (; *word != '\0' && at < size; ++word) file.bytes[at++] = static_cast<uint8_t>(*word);
        if (at < size) file.bytes[at++] = static_cast<uint8_t>(random() % 4 == 0 ? '\t' : ' ');
      }
    } else {
      for (std::size_t at = 0; at < size; at += 8) {
        uint64_t value = random();
        for (std::size_t k = 0; k < 8 && at + k < size; ++k)
          file.bytes[at + k] = static_cast<uint8_t>(value >> (8 * k));
      }
    }
    made += size;
    files.push_back(std::move(file));
  }
  return files;
}

void Row(const char* what, double mb, double seconds, double referenceSeconds) {
  std::printf("%-44s %9.1f MB/s %9.0f ms", what, mb / seconds, seconds * 1000.0);
  if (referenceSeconds > 0) std::printf("   %5.2fx zlib", referenceSeconds / seconds);
  std::printf("\n");
}

int Fail(const char* step, PackageResult result) {
  std::fprintf(stderr, "archive_bench: %s failed: %s (%d)\n", step, PackageResultText(result),
               static_cast<int>(result));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path work =
      (argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path()) / "solmere_archive_bench";
  const uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  const std::u16string base = platform::Utf16FromUtf8((work / "bench").string());

  std::printf("generating %llu MiB of sample files...\n", static_cast<unsigned long long>(mib));
  const std::vector<Sample> files = MakeFiles(mib << 20);
  uint64_t total = 0;
  for (const Sample& file : files) total += file.bytes.size();
  const double mb = static_cast<double>(total) / 1e6;
  std::printf("%zu files, %.1f MB\n\n", files.size(), mb);

  // zlib's own calls with buffers reused across files: the reference.
  std::vector<uint8_t> packed;
  std::vector<std::vector<uint8_t>> compressed(files.size());
  auto start = Clock::now();
  for (std::size_t i = 0; i < files.size(); ++i) {
    uLongf size = compressBound(static_cast<uLong>(files[i].bytes.size()));
    packed.resize(size);
    compress2(packed.data(), &size, files[i].bytes.data(), static_cast<uLong>(files[i].bytes.size()),
              Z_DEFAULT_COMPRESSION);
    compressed[i].assign(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(size));
  }
  const double zlibCompress = SecondsSince(start);
  std::vector<uint8_t> unpacked;
  start = Clock::now();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (compressed[i].size() >= files[i].bytes.size()) continue;  // the archive keeps these raw too
    unpacked.resize(files[i].bytes.size());
    uLongf size = static_cast<uLongf>(unpacked.size());
    uncompress(unpacked.data(), &size, compressed[i].data(), static_cast<uLong>(compressed[i].size()));
  }
  const double zlibUncompress = SecondsSince(start);
  compressed.clear();

  TavrinFilePackage archive;
  PackageResult result = archive.Create(base, u"bench");
  if (result != PackageResult::kOk) return Fail("create", result);
  start = Clock::now();
  for (const Sample& file : files) {
    result = archive.SetFileData(file.name.substr(6), file.bytes.data(), static_cast<uint32_t>(file.bytes.size()));
    if (result != PackageResult::kOk) return Fail("store", result);
  }
  result = archive.Save();
  if (result != PackageResult::kOk) return Fail("save", result);
  const double store = SecondsSince(start);
  archive.Close();

  start = Clock::now();
  result = archive.Open(base, u"bench");
  if (result != PackageResult::kOk) return Fail("open", result);
  std::vector<uint8_t> contents;
  for (const Sample& file : files) {
    result = archive.GetFileData(file.name, true, &contents);
    if (result != PackageResult::kOk) return Fail("read", result);
    if (contents != file.bytes) {
      std::fprintf(stderr, "archive_bench: contents differ\n");
      return 1;
    }
  }
  const double read = SecondsSince(start);
  const uint64_t archiveBytes = archive.streamLength();
  archive.Close();

  std::printf("%-44s %14s %12s\n", "", "throughput", "time");
  Row("zlib compress2 (reference)", mb, zlibCompress, 0);
  Row("archive store (SetFileData + Save)", mb, store, zlibCompress);
  Row("zlib uncompress (reference)", mb, zlibUncompress, 0);
  Row("archive read back (Open + GetFileData)", mb, read, zlibUncompress);
  std::printf("archive size %.1f MB\n\n", static_cast<double>(archiveBytes) / 1e6);

  // 100,000 small entries: the index is what costs here.
  const std::u16string manyBase = platform::Utf16FromUtf8((work / "many").string());
  result = archive.Create(manyBase, u"many");
  if (result != PackageResult::kOk) return Fail("create", result);
  const char payload[] = "a small configuration file of a few dozen bytes\n";
  for (int i = 0; i < 100000; ++i) {
    std::u16string name = u"folder" + platform::Utf16FromUtf8(std::to_string(i % 100)) + u"\\entry" +
                          platform::Utf16FromUtf8(std::to_string(i)) + u".cfg";
    result = archive.SetFileData(name, payload, sizeof payload - 1);
    if (result != PackageResult::kOk) return Fail("store", result);
  }
  start = Clock::now();
  result = archive.Close();
  if (result != PackageResult::kOk) return Fail("save", result);
  const double saveMany = SecondsSince(start);
  start = Clock::now();
  result = archive.Open(manyBase, u"many");
  if (result != PackageResult::kOk) return Fail("open", result);
  const double openMany = SecondsSince(start);
  const std::size_t entries = archive.index().size();
  std::printf("archive of %zu entries: index written in %.0f ms, opened in %.0f ms\n", entries, saveMany * 1000.0,
              openMany * 1000.0);

  // A small change saved, again and again: each save appends the whole index anew, and the
  // indexes before it stay in the archive as dead bytes.
  constexpr int kSaves = 10;
  const uint64_t lengthBefore = archive.streamLength();
  double smallSaves = 0;
  for (int i = 0; i < kSaves; ++i) {
    const std::string changed = "changed " + std::to_string(i) + "\n";
    result = archive.SetFileData(u"folder7\\entry7.cfg", changed.data(), static_cast<uint32_t>(changed.size()));
    if (result != PackageResult::kOk) return Fail("store", result);
    start = Clock::now();
    result = archive.Save();
    smallSaves += SecondsSince(start);
    if (result != PackageResult::kOk) return Fail("save", result);
  }
  archive.clearIndexChanged();
  const double grown = static_cast<double>(archive.streamLength() - lengthBefore) / kSaves;
  archive.Close();
  std::printf("one entry changed and saved, %d times: %.0f ms a save, the archive %.2f MB longer each time\n", kSaves,
              smallSaves / kSaves * 1000.0, grown / 1e6);

  std::filesystem::remove_all(work);
  return 0;
}
