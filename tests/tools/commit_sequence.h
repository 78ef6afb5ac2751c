#pragma once
// The crash test's writer and the test itself derive every commit from this one
// deterministic sequence, so the test knows the exact archive contents after any commit.

#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace commit_sequence {

inline constexpr char16_t kArchiveName[] = u"crash";
// Holds the number of the commit that wrote it; stored last in every commit.
inline constexpr char16_t kMarker[] = u"commit";

struct Step {
  std::u16string name;  // inside the archive, without the archive name
  bool remove = false;
  std::vector<uint8_t> contents;
};

// Full name -> contents.
using State = std::map<std::u16string, std::vector<uint8_t>>;

inline std::u16string FullName(const std::u16string& name) {
  return std::u16string(kArchiveName) + u"\\" + name;
}

// splitmix64: the same numbers on every compiler and library.
class Numbers {
 public:
  explicit Numbers(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

 private:
  uint64_t state_;
};

inline std::u16string Numbered(const char16_t* stem, uint32_t number, const char16_t* extension) {
  std::u16string name = stem;
  for (char c : std::to_string(number)) name += static_cast<char16_t>(c);
  return name + extension;
}

inline std::vector<uint8_t> Noise(Numbers& numbers, std::size_t size) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(numbers.Next() >> 56);
  return bytes;
}

inline std::vector<uint8_t> Text(Numbers& numbers, uint32_t commit, std::size_t size) {
  const std::string line = "commit " + std::to_string(commit) + " line " + std::to_string(numbers.Below(1000)) + "\n";
  std::vector<uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(line[i % line.size()]);
  return bytes;
}

enum class Kind { kRaw, kText, kBig, kEmpty };

inline std::u16string NameOf(Kind kind, uint32_t slot) {
  switch (kind) {
    case Kind::kRaw:
      return Numbered(u"raw\\fixed", slot % 6, u".bin");
    case Kind::kText:
      return Numbered(u"text\\страница", slot % 6, u".txt");
    case Kind::kBig:
      return Numbered(u"big\\大文件", slot % 3, u".bin");
    case Kind::kEmpty:
      break;
  }
  return Numbered(u"empty", slot % 2, u"");
}

// Commit 0 only stores the marker. Every later commit makes three to seven changes, then
// stores the marker. A change removes a file (one in ten) or stores one of these kinds:
// - raw: incompressible, each name always the same length, so a new version has the
//   stored and uncompressed lengths of the one it replaces;
// - text: compressible, its length varies;
// - big: incompressible and larger, its length varies;
// - empty.
// scale multiplies every size.
inline std::vector<Step> CommitSteps(uint32_t commit, uint32_t scale) {
  static constexpr Kind kKinds[] = {Kind::kRaw,  Kind::kRaw, Kind::kRaw, Kind::kText, Kind::kText,
                                    Kind::kText, Kind::kBig, Kind::kBig, Kind::kEmpty};
  std::vector<Step> steps;
  Numbers numbers(0xC0FFEEull * 1000003u + commit);
  const uint32_t count = commit == 0 ? 0 : 3 + numbers.Below(5);
  for (uint32_t i = 0; i < count; ++i) {
    Step step;
    const Kind kind = kKinds[numbers.Below(std::size(kKinds))];
    const uint32_t slot = numbers.Below(6);
    step.name = NameOf(kind, slot);
    step.remove = numbers.Below(10) == 0;
    if (!step.remove) {
      switch (kind) {
        case Kind::kRaw:
          step.contents = Noise(numbers, (slot + 1) * 512u * scale);
          break;
        case Kind::kText:
          step.contents = Text(numbers, commit, (1 + numbers.Below(4096)) * scale);
          break;
        case Kind::kBig:
          step.contents = Noise(numbers, (1 + numbers.Below(16384)) * scale);
          break;
        case Kind::kEmpty:
          break;
      }
    }
    steps.push_back(std::move(step));
  }
  Step marker;
  marker.name = kMarker;
  const std::string number = std::to_string(commit);
  marker.contents.assign(number.begin(), number.end());
  steps.push_back(std::move(marker));
  return steps;
}

inline void Apply(const std::vector<Step>& steps, State* state) {
  for (const Step& step : steps) {
    if (step.remove)
      state->erase(FullName(step.name));
    else
      (*state)[FullName(step.name)] = step.contents;
  }
}

}  // namespace commit_sequence
