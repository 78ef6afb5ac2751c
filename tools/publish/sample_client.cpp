#include "sample_client.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "archive/archive_names.h"
#include "platform/text.h"

namespace {

uint64_t Mix(uint64_t value) {
  // splitmix64's finaliser: every input bit reaches every output bit.
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

uint64_t Mix(uint64_t a, uint64_t b, uint64_t c = 0) {
  return Mix(Mix(Mix(a) ^ b) ^ c);
}

// An index below count; size_t is 32-bit in the shipping build.
std::size_t Pick(uint64_t random, std::size_t count) {
  return static_cast<std::size_t>(random % count);
}

constexpr std::array<std::string_view, 16> kLatin = {"npc",   "orc",    "human", "elf",   "sword", "armor",
                                                     "city",  "forest", "ui",    "panel", "map",   "sky",
                                                     "water", "stone",  "fire",  "bridge"};
constexpr std::array<std::string_view, 8> kCyrillic = {"модели", "оружие", "броня", "задание",
                                                       "карта",  "лес",    "замок", "дракон"};
constexpr std::array<std::string_view, 8> kChinese = {"界面", "按钮", "地图", "角色", "武器", "森林", "城堡", "龙"};
// Plain files live in folders no archive name begins ("help" alone is not "help\script").
constexpr std::array<std::string_view, 7> kPlainFolders = {"music", "video", "font", "data", "help", "Справка", "字体"};

struct Placement {
  std::string_view extensions[3];
  SampleKind kind;
};

// Per archive, in kArchiveNames order.
constexpr std::array<Placement, 15> kArchivePlacements = {{
    {{".lua", ".txt", ".lua"}, SampleKind::kText},        // help\script
    {{".bld", ".bld", ".ecm"}, SampleKind::kStructured},  // building
    {{".txt", ".ini", ".xml"}, SampleKind::kText},        // configs
    {{".fd", ".fd", ".ini"}, SampleKind::kStructured},    // facedata
    {{".gfx", ".dds", ".gfx"}, SampleKind::kNoise},       // gfx
    {{".dat", ".dat", ".ini"}, SampleKind::kStructured},  // grasses
    {{".xml", ".dds", ".xml"}, SampleKind::kText},        // interfaces
    {{".lmd", ".lmd", ".bin"}, SampleKind::kStructured},  // litmodels
    {{".lod", ".lod", ".bin"}, SampleKind::kStructured},  // loddata
    {{".ski", ".bon", ".smd"}, SampleKind::kStructured},  // models
    {{".wav", ".ogg", ".wav"}, SampleKind::kNoise},       // sfx
    {{".fx", ".txt", ".fx"}, SampleKind::kText},          // shaders
    {{".dds", ".tga", ".dds"}, SampleKind::kNoise},       // surfaces
    {{".dds", ".dds", ".tga"}, SampleKind::kNoise},       // textures
    {{".spt", ".spt", ".dds"}, SampleKind::kStructured},  // trees
}};

std::string Word(uint64_t random) {
  switch (random % 10) {
    case 0:
      return std::string(kCyrillic[Pick(random >> 8, kCyrillic.size())]);
    case 1:
      return std::string(kChinese[Pick(random >> 8, kChinese.size())]);
    default:
      return std::string(kLatin[Pick(random >> 8, kLatin.size())]);
  }
}

struct Generator {
  const SampleSettings& settings;
  uint64_t smallBudget;  // bytes for the ordinary files of release 1

  uint32_t OrdinarySize(uint64_t random) const {
    // Mostly small files, some of tens of kilobytes, a few empty: weights averaging about 70.
    static constexpr uint32_t kWeights[16] = {0, 2, 4, 8, 12, 16, 24, 32, 48, 64, 80, 96, 128, 160, 200, 250};
    const uint64_t average = smallBudget / std::max<uint32_t>(settings.files, 1);
    const uint32_t weight = kWeights[Pick(random, 16)];
    return static_cast<uint32_t>(average * weight / 70 + (weight == 0 ? 0 : (random >> 8) % 64));
  }

  SampleFile Make(uint64_t id, bool large, int forcePlace) const {
    const uint64_t random = Mix(settings.seed, id, 0x5A);
    SampleFile file;
    file.id = id;
    file.contentSeed = Mix(random);
    // forcePlace: -1 any, 0 an archive, 1 a plain file.
    const bool plain = forcePlace == 1 || (forcePlace != 0 && random % 100 < 15);
    std::string name;
    std::string extension;
    if (plain) {
      name = std::string(kPlainFolders[Pick(random >> 8, kPlainFolders.size())]) + "\\";
      static constexpr std::string_view kExtensions[4] = {".ogg", ".bik", ".txt", ".ttf"};
      extension = kExtensions[Pick(random >> 16, 4)];
      file.kind = extension == ".txt" ? SampleKind::kText : SampleKind::kNoise;
    } else {
      const std::size_t archive = Pick(random >> 8, kArchiveNames.size());
      name = platform::Utf8FromUtf16(kArchiveNames[archive]) + "\\";
      const Placement& placement = kArchivePlacements[archive];
      extension = placement.extensions[Pick(random >> 16, 3)];
      file.kind = extension == ".dds" || extension == ".tga" ? SampleKind::kNoise : placement.kind;
    }
    const uint64_t depth = (random >> 24) % 3;
    for (uint64_t level = 0; level < depth; ++level) name += Word(Mix(random, level)) + "\\";
    name += Word(Mix(random, 99)) + "_" + std::to_string(id) + extension;
    file.name = platform::Utf16FromUtf8(name);
    file.size = large ? static_cast<uint32_t>((2u << 20) + Mix(random, 7) % (4u << 20)) : OrdinarySize(Mix(random, 3));
    return file;
  }
};

bool IsPlain(const SampleFile& file) {
  for (std::u16string_view archive : kArchiveNames)
    if (file.name.compare(0, archive.size(), archive) == 0) return false;
  return true;
}

void Derive(const Generator& generator, int32_t version, std::vector<SampleFile>* files) {
  const uint64_t seed = generator.settings.seed;
  bool changed[2] = {}, deleted[2] = {};
  std::vector<SampleFile> kept;
  for (SampleFile& file : *files) {
    const uint64_t random = Mix(seed ^ 0xD1, static_cast<uint64_t>(version), file.id);
    const int place = IsPlain(file) ? 1 : 0;
    // One in three large files changes every step, so that packages carry large files too.
    const bool largeTurn =
        file.id >= 500000 && file.id < 1000000 && (file.id + static_cast<uint64_t>(version)) % 3 == 0;
    if (largeTurn || random % 1000 < 40) {
      file.contentSeed = Mix(random, 1);
      // Large files keep their size class; others grow or shrink.
      if (file.size < (2u << 20)) file.size = static_cast<uint32_t>(file.size * (50 + (random >> 10) % 100) / 100);
      changed[place] = true;
    } else if (random % 1000 < 60 && file.id != 0) {
      deleted[place] = true;
      continue;
    }
    kept.push_back(file);
  }
  // Every step changes and deletes something in the archives and among the plain files.
  for (int place = 0; place < 2; ++place) {
    if (!changed[place]) {
      for (SampleFile& file : kept)
        if ((IsPlain(file) ? 1 : 0) == place) {
          file.contentSeed = Mix(file.contentSeed, static_cast<uint64_t>(version));
          break;
        }
    }
    if (!deleted[place]) {
      for (auto file = kept.begin(); file != kept.end(); ++file)
        if ((IsPlain(*file) ? 1 : 0) == place && file->id != 0) {
          kept.erase(file);
          break;
        }
    }
  }
  const uint64_t additions = generator.settings.files / 50 + 2;
  for (uint64_t k = 0; k < additions; ++k) {
    const uint64_t id = 1000000ull * static_cast<uint64_t>(version) + k;
    kept.push_back(generator.Make(id, false, k == 0 ? 0 : k == 1 ? 1 : -1));
  }
  *files = std::move(kept);
}

}  // namespace

std::vector<SampleFile> SampleCatalog(const SampleSettings& settings, int32_t version) {
  const uint64_t budget = uint64_t{settings.sizeMb} << 20;
  const Generator generator{settings, budget / 2};
  std::vector<SampleFile> files;
  // id 0: the game program itself.
  SampleFile program = generator.Make(0, false, 1);
  program.name = u"velkarclient.exe";
  program.kind = SampleKind::kStructured;
  program.size = 3u << 20;
  files.push_back(program);
  for (uint64_t id = 1; id <= settings.files; ++id) files.push_back(generator.Make(id, false, -1));
  // Large files take the other half of the budget, about 4 MB each.
  const uint64_t large = std::max<uint64_t>(1, budget / 2 / (4u << 20));
  for (uint64_t k = 0; k < large; ++k) files.push_back(generator.Make(500000 + k, true, k % 4 == 3 ? 1 : 0));
  for (int32_t step = 2; step <= version; ++step) Derive(generator, step, &files);
  std::sort(files.begin(), files.end(), [](const SampleFile& a, const SampleFile& b) { return a.name < b.name; });
  return files;
}

void SampleContents(const SampleFile& file, std::vector<uint8_t>* contents) {
  contents->resize(file.size);
  uint64_t state = file.contentSeed;
  std::size_t at = 0;
  switch (file.kind) {
    case SampleKind::kNoise:
      while (at < contents->size()) {
        state = Mix(state);
        for (int i = 0; i < 8 && at < contents->size(); ++i) (*contents)[at++] = static_cast<uint8_t>(state >> (8 * i));
      }
      break;
    case SampleKind::kStructured: {
      // Vertex-like records: slowly changing values with a little noise, zlib gets about half.
      uint32_t value = static_cast<uint32_t>(state);
      while (at < contents->size()) {
        state = Mix(state);
        value += static_cast<uint32_t>(state % 17);
        const uint32_t words[2] = {value, static_cast<uint32_t>(state >> 40) & 0xFF};
        for (uint32_t word : words)
          for (int i = 0; i < 4 && at < contents->size(); ++i)
            (*contents)[at++] = static_cast<uint8_t>(word >> (8 * i));
      }
      break;
    }
    case SampleKind::kText: {
      std::string line;
      for (uint64_t n = 0; at < contents->size(); ++n) {
        state = Mix(state);
        line = Word(state) + " = " + Word(state >> 20) + " " + std::to_string(state % 10000) + "; " +
               std::to_string(n) + "\r\n";
        for (char c : line) {
          if (at == contents->size()) break;
          (*contents)[at++] = static_cast<uint8_t>(c);
        }
      }
      break;
    }
  }
}
