#include "engine/disk_space.h"

#include <filesystem>
#include <system_error>

#include "base/paths.h"
#include "platform/text.h"

std::optional<uint64_t> AvailableSpace(const std::u16string& folder) {
  std::error_code error;
  const std::filesystem::space_info space = std::filesystem::space(std::filesystem::path(folder), error);
  if (error || space.available == static_cast<std::uintmax_t>(-1)) return std::nullopt;
  return space.available;
}

DiskShortage ShortageAt(const std::u16string& path, uint64_t needed) {
  return {AvailableSpace(ParentFolder(path)), needed};
}

std::u16string ShortageLogText(const DiskShortage& shortage) {
  std::string text = " (disk full: ";
  if (shortage.freeBytes) text += std::to_string(*shortage.freeBytes) + " bytes free, ";
  text += std::to_string(shortage.neededBytes) + " needed)";
  return platform::Utf16FromUtf8(text);
}
