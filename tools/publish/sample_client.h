#pragma once
// A made-up client, the same on every machine and platform: what the tests and the
// README's main job publish. Release 1 is generated from the seed; every later release
// derives from the one before it by changing, deleting and adding files, in archives and
// among the plain files alike. Only integer arithmetic, so both platforms agree.

#include <cstdint>
#include <string>
#include <vector>

struct SampleSettings {
  uint64_t seed = 1;
  uint32_t files = 3000;  // files of release 1 besides the large ones
  uint32_t sizeMb = 32;   // about the total contents of release 1
};

enum class SampleKind { kText, kStructured, kNoise };

struct SampleFile {
  uint64_t id = 0;
  std::u16string name;  // client path, "\"-separated; an archive's name begins it for an entry
  SampleKind kind = SampleKind::kText;
  uint32_t size = 0;
  uint64_t contentSeed = 0;
};

// Every file of the given release (version 1 or later), sorted by name.
std::vector<SampleFile> SampleCatalog(const SampleSettings& settings, int32_t version);

void SampleContents(const SampleFile& file, std::vector<uint8_t>* contents);
