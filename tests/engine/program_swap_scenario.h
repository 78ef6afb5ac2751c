#pragma once
// The swap the program swap tests cut short: an updater folder of twelve files replaced (some in
// a folder of their own), three removed and one kept, to version 7.

#include <filesystem>
#include <string>

#include "engine/program_swap.h"
#include "platform/text.h"

namespace testsupport {

inline constexpr int kSwapVersion = 7;

inline std::u16string ReplacedName(int i) {
  return platform::Utf16FromUtf8((i % 3 == 0 ? "skin\\picture" : "program") + std::to_string(i) + ".bin");
}
inline std::u16string RemovedName(int i) {
  return platform::Utf16FromUtf8("gone" + std::to_string(i) + ".bin");
}

inline ProgramSwapPlan SwapPlan(const std::filesystem::path& target) {
  ProgramSwapPlan plan;
  plan.target = target.u16string();
  for (int i = 0; i < 12; ++i) plan.replaced.push_back(ReplacedName(i));
  for (int i = 0; i < 3; ++i) plan.removed.push_back(RemovedName(i));
  plan.version = kSwapVersion;
  return plan;
}

}  // namespace testsupport
