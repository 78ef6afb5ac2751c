#include "client_paths.h"

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"

int ArchiveOfPath(std::u16string_view path) {
  for (std::size_t i = 0; i < kArchiveNames.size(); ++i)
    if (path.substr(0, kArchiveNames[i].size()) == kArchiveNames[i]) return static_cast<int>(i);
  return -1;
}

std::u16string IdentityOf(std::u16string_view path) {
  return TavrinFilePackage::KeyOf(path);
}

std::u16string DeletionName(std::u16string_view path) {
  return ArchiveOfPath(path) >= 0 ? TavrinFilePackage::KeyOf(path) : std::u16string(path);
}
