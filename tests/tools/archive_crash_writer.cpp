// The crash test's writer: commits the test's sequence on an archive until it is killed.
//
// usage: archive_crash_writer BASEPATH SCALE [--pause]
// Prints "open C" once the archive is open at commit C. With --pause it prints "save N L"
// (commit N, logical archive length L) right before its first Save and stops itself, so
// that the test can let it go on and kill it inside that Save.

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/tavrin_file_package.h"
#include "platform/text.h"
#include "tools/commit_sequence.h"

namespace {

// One run never goes on for long: the test kills it within milliseconds.
constexpr uint32_t kMaxCommitsPerRun = 500;

int Fail(const char* what, PackageResult result) {
  std::fprintf(stderr, "archive_crash_writer: %s: code %d (%s)\n", what, static_cast<int>(result),
               PackageResultText(result));
  return 4;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace commit_sequence;
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: archive_crash_writer BASEPATH SCALE [--pause]\n");
    return 2;
  }
  uint32_t scale = 0;
  std::from_chars(argv[2], argv[2] + std::strlen(argv[2]), scale);
  const bool pause = argc == 4 && std::strcmp(argv[3], "--pause") == 0;

  TavrinFilePackage archive;
  PackageResult result = archive.Open(platform::Utf16FromUtf8(argv[1]), kArchiveName);
  if (result != PackageResult::kOk) return Fail("open", result);
  std::vector<uint8_t> marker;
  result = archive.GetFileData(kMarker, false, &marker);
  if (result != PackageResult::kOk) return Fail("read the marker", result);
  uint32_t current = 0;
  std::from_chars(reinterpret_cast<const char*>(marker.data()),
                  reinterpret_cast<const char*>(marker.data()) + marker.size(), current);
  std::printf("open %u\n", current);
  std::fflush(stdout);

  for (uint32_t commit = current + 1; commit <= current + kMaxCommitsPerRun; ++commit) {
    for (const Step& step : CommitSteps(commit, scale)) {
      if (step.remove) {
        archive.RemoveFile(TavrinFilePackage::KeyOf(FullName(step.name)));
        continue;
      }
      result = archive.SetFileData(step.name, step.contents.data(), static_cast<uint32_t>(step.contents.size()));
      if (result != PackageResult::kOk) return Fail("store", result);
    }
    if (pause && commit == current + 1) {
      std::printf("save %u %llu\n", commit, static_cast<unsigned long long>(archive.streamLength()));
      std::fflush(stdout);
      std::raise(SIGSTOP);
    }
    result = archive.Save();
    archive.clearIndexChanged();
    if (result != PackageResult::kOk) return Fail("save", result);
  }
  return 0;
}
