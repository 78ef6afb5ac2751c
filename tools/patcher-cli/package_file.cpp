#include "package_file.h"

#include <cerrno>
#include <vector>

#include "engine/client_path.h"
#include "formats/update_package.h"
#include "platform/file.h"
#include "platform/text.h"

bool CheckPackageFile(const std::u16string& path, std::string* error) {
  const std::string shown = platform::Utf8FromUtf16(path);
  platform::File file;
  const int opened = file.Open(path, platform::FileMode::kRead);
  if (opened == ENOENT) {
    *error = shown + ": нет такого файла";
    return false;
  }
  if (opened == EISDIR) {
    *error = shown + ": это папка, а не файл пакета обновления";
    return false;
  }
  if (opened != 0) {
    *error = shown + ": файл не открывается (занят другой программой или нет прав на чтение)";
    return false;
  }
  // The format has no signature: a package is what reads as one, down to its last record.
  FilePackageSource source(file);
  PackageHeader header;
  std::vector<PackageRecord> records;
  bool usable = ReadPackageHeader(source, &header) && ReadPackageIndex(source, header, &records);
  for (const PackageRecord& record : records) usable = usable && IsSafeClientPath(record.name);
  if (!usable) {
    *error = shown + ": это не пакет обновления (или пакет повреждён)";
    return false;
  }
  return true;
}
