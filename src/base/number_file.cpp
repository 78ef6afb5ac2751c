#include "base/number_file.h"

#include <algorithm>

#include "base/decimal_text.h"
#include "base/paths.h"
#include "platform/file.h"

namespace {

// Longer than any number "%d" reads; what follows the number does not matter.
constexpr std::size_t kTextLimit = 64;

}  // namespace

std::optional<int32_t> ReadNumberFile(const std::u16string& path) {
  platform::File file;
  if (file.Open(path, platform::FileMode::kReadWrite) != 0) return std::nullopt;
  char text[kTextLimit];
  std::size_t length = 0;
  uint64_t size = 0;
  if (file.Seek(0, platform::SeekOrigin::kEnd) && file.Tell(&size) && file.Seek(0, platform::SeekOrigin::kStart)) {
    length = static_cast<std::size_t>(std::min<uint64_t>(size, sizeof text));
    if (length > 0 && !file.Read(text, length)) length = 0;
  }
  return ScanDecimal(text, length);
}

bool WriteNumberFile(const std::u16string& path, int32_t value) {
  platform::File file;
  if (file.Open(path, platform::FileMode::kCreate) != 0) {
    platform::MakeDirectories(ParentFolder(path));
    if (file.Open(path, platform::FileMode::kCreate) != 0) return false;
  }
  const std::string text = DecimalText(value);
  return file.Write(text.data(), text.size());
}

int32_t ReadOrCreateNumberFile(const std::u16string& path) {
  if (const std::optional<int32_t> value = ReadNumberFile(path)) return *value;
  WriteNumberFile(path, 0);
  return 0;
}
