#include "engine/disk_space.h"

#include "base/paths.h"
#include "platform/file.h"
#include "platform/text.h"

DiskShortage ShortageAt(const std::u16string& path, uint64_t needed) {
  return {platform::AvailableDiskSpace(ParentFolder(path)), needed};
}

std::u16string ShortageLogText(const DiskShortage& shortage) {
  std::string text = " (disk full: ";
  if (shortage.freeBytes) text += std::to_string(*shortage.freeBytes) + " bytes free, ";
  text += std::to_string(shortage.neededBytes) + " needed)";
  return platform::Utf16FromUtf8(text);
}
