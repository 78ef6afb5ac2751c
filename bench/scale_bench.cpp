// A client at the size of a real one: GB gigabytes in ENTRIES archive entries over the fifteen
// archives (stored as they are: random bytes, which no compression shortens), generated
// into DIR, then measured phase by phase, each in a child process of its own for its peak
// memory: the archives opened; the full check of the up-to-date client against its full
// list; a release of CHANGES changed entries (2 KiB each, served by the nginx of
// tests/support/with_nginx.sh) fetched as a change list and brought in by the file pass;
// and the save of the archives after it. Run at two sizes to see how each phase grows.
//
//   tests/support/with_nginx.sh scale_bench DIR [GB] [ENTRIES] [CHANGES]
//     (defaults 20, 200000, 50000); DIR is emptied first and needs GB of room.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/archive_names.h"
#include "base/progress_counters.h"
#include "engine/client_archive_set.h"
#include "engine/server_tree.h"
#include "platform/md5.h"
#include "process_time.h"

namespace fs = std::filesystem;

namespace {

// A fast generator: the bytes only have to be incompressible.
struct XorShift {
  uint64_t state;
  uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  void Fill(std::vector<uint8_t>& bytes) {
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
      const uint64_t word = Next();
      std::copy_n(reinterpret_cast<const uint8_t*>(&word), 8, bytes.data() + i);
    }
  }
};

std::u16string EntryName(std::size_t i) {
  const std::u16string_view archive = kArchiveNames[i % kArchiveNames.size()];
  const std::string rest = "\\d" + std::to_string(i / 15 % 200) + "\\e" + std::to_string(i) + ".bin";
  return std::u16string(archive) + std::u16string(rest.begin(), rest.end());
}

ClientArchiveSet MakeSet(const fs::path& dir, uint16_t port) {
  return ClientArchiveSet(ClientLayout((dir / "patcher").u16string()), UpdateServerAddress{u"127.0.0.1", port});
}

// The client and its full list (DIR/fulllist); false when it could not be written.
bool Generate(const fs::path& dir, uint64_t bytes, std::size_t entries) {
  fs::remove_all(dir);
  fs::create_directories(dir / "patcher");
  fs::create_directories(dir / "config" / "patcher");
  ClientArchiveSet set = MakeSet(dir, 9);
  if (!set.OpenArchives({}).allOpen()) return false;
  XorShift random{20261211};
  std::vector<testsupport::ListEntry> list;
  list.reserve(entries);
  std::vector<uint8_t> content;
  const uint64_t average = bytes / entries;
  for (std::size_t i = 0; i < entries; ++i) {
    content.resize(static_cast<std::size_t>(average / 2 + random.Next() % average) & ~std::size_t{7});
    random.Fill(content);
    const std::u16string name = EntryName(i);
    TavrinFilePackage* archive = set.archives().Find(kArchiveNames[i % kArchiveNames.size()]);
    const auto size = static_cast<uint32_t>(content.size());
    if (archive->SetFileCompressedData(name, content.data(), size, size) != PackageResult::kOk) return false;
    testsupport::ListEntry entry{name, {}, size, size};
    platform::ComputeMd5(content.data(), content.size(), &entry.digest);
    list.push_back(entry);
  }
  if (!set.WriteLocalVersion(1).written() || !set.SaveArchives({}).written()) return false;
  std::vector<uint8_t> full = {0, 0, 0, 0};
  full[0] = 1;  // the release the list is of, little-endian
  const std::vector<uint8_t> bodies = testsupport::FileListBytes(list);
  full.insert(full.end(), bodies.begin(), bodies.end());
  std::ofstream(dir / "fulllist", std::ios::binary)
      .write(reinterpret_cast<const char*>(full.data()), static_cast<std::streamsize>(full.size()));
  return true;
}

// The change list of release 2 in the nginx root: every (ENTRIES / CHANGES)th entry anew.
void PublishChanges(const fs::path& root, std::size_t entries, std::size_t changes) {
  XorShift random{7};
  std::vector<testsupport::ListedFile> files;
  files.reserve(changes);
  std::vector<uint8_t> content(2048);
  for (std::size_t k = 0; k < changes; ++k) {
    random.Fill(content);
    files.push_back({EntryName(k * (entries / changes)), std::string(content.begin(), content.end()), false});
  }
  const testsupport::ServerTree tree(root);
  tree.Clear();
  tree.PutVersion(2);
  tree.PutChangeList(1, files);
}

int OpenPhase(const fs::path& dir) {
  ClientArchiveSet set = MakeSet(dir, 9);
  return set.OpenArchives({}).allOpen() ? 0 : 1;
}

int CheckPhase(const fs::path& dir) {
  std::ifstream in(dir / "fulllist", std::ios::binary);
  const std::vector<uint8_t> list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ClientArchiveSet set = MakeSet(dir, 9);
  FileTable table;
  if (!set.OpenArchives({}).allOpen() || list.size() < 4 || !ReadFileList(list.data() + 4, list.size() - 4, &table, {}))
    return 1;
  set.SetFileTable(std::move(table));
  const CheckResult result = set.CheckFiles({}, false);
  return result.done() && set.filesStored() == 0 ? 0 : 1;
}

int ChangePhase(const fs::path& dir, uint16_t port, std::size_t changes) {
  ClientArchiveSet set = MakeSet(dir, port);
  ProgressCounters progress;
  const OperationContext context(nullptr, progress);
  if (!set.OpenArchives({}).allOpen()) return 1;
  const auto start = std::chrono::steady_clock::now();
  if (set.GetList(context, 1, 2).version != 2) return 1;
  const double listed = Seconds(start);
  const CheckResult result = set.CheckFiles(context, false);
  const double passed = Seconds(start);
  if (!result.done() || set.filesStored() != static_cast<int32_t>(changes)) return 1;
  if (!set.WriteLocalVersion(2).written() || !set.SaveArchives({}).written()) return 1;
  std::printf("    change list %.2f s, file pass %.2f s, save %.2f s\n", listed, passed - listed,
              Seconds(start) - passed);
  return 0;
}

// Runs `phase` in a child process: its wall time and peak memory, or false when it failed.
template <typename Phase>
bool Measure(const char* what, Phase phase) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int status = phase();
    std::fflush(stdout);
    _exit(status);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::printf("%-34s %8.2f s  peak %6ld MiB%s\n", what, Seconds(start), usage.ru_maxrss / 1024, ok ? "" : "  FAILED");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const char* nginxRoot = std::getenv("SOLMERE_NGINX_ROOT");
  const char* nginxPort = std::getenv("SOLMERE_NGINX_PORT");
  if (argc < 2 || nginxRoot == nullptr || nginxPort == nullptr) {
    std::fprintf(stderr, "usage: tests/support/with_nginx.sh scale_bench DIR [GB] [ENTRIES] [CHANGES]\n");
    return 2;
  }
  const fs::path dir = argv[1];
  const double gigabytes = argc > 2 ? std::atof(argv[2]) : 20;
  const std::size_t entries = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 200000;
  const std::size_t changes = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 50000;
  const auto port = static_cast<uint16_t>(std::atoi(nginxPort));
  if (gigabytes <= 0 || entries < 15 || changes == 0 || changes > entries) return 2;

  const auto start = std::chrono::steady_clock::now();
  if (!Generate(dir, static_cast<uint64_t>(gigabytes * 1e9), entries)) {
    std::fprintf(stderr, "the client could not be generated in %s\n", dir.string().c_str());
    return 1;
  }
  PublishChanges(nginxRoot, entries, changes);
  uintmax_t onDisk = 0;
  for (const auto& item : fs::recursive_directory_iterator(dir))
    if (item.is_regular_file()) onDisk += item.file_size();
  std::printf("client of %.2f GB in %zu entries, generated in %.0f s; a release of %zu changes\n",
              static_cast<double>(onDisk) / 1e9, entries, Seconds(start), changes);
  bool ok = Measure("archives opened", [&] { return OpenPhase(dir); });
  ok = Measure("full check (up to date, 2 threads)", [&] { return CheckPhase(dir); }) && ok;
  ok = Measure("change list, file pass and save", [&] { return ChangePhase(dir, port, changes); }) && ok;
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
