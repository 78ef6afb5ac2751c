#include "client_paths.h"

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"

std::u16string IdentityOf(std::u16string_view path) {
  return TavrinFilePackage::KeyOf(path);
}

std::u16string DeletionName(std::u16string_view path) {
  return ArchiveOfPath(path) ? TavrinFilePackage::KeyOf(path) : std::u16string(path);
}
