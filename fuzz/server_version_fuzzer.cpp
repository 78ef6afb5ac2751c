// The server's "version" as the updater reads it: a release number or nothing, never a
// number outside 1..kMaxVersion, and an accepted text names exactly that number.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/decimal_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::optional<int32_t> version = ParseServerVersion(data, size);
  if (!version) return 0;
  if (*version < 1 || *version > kMaxVersion) std::abort();
  // Digits alone but for white space: dropping the white space and leading zeros leaves the number.
  std::string digits;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c >= '0' && c <= '9') {
      if (!(digits.empty() && c == '0')) digits.push_back(c);
    } else if (!(c == ' ' || (c >= '\t' && c <= '\r'))) {
      std::abort();
    }
  }
  if (digits != DecimalText(*version)) std::abort();
  return 0;
}
