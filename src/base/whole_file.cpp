#include "base/whole_file.h"

#include "base/paths.h"
#include "platform/file.h"

bool ReadSmallFile(const std::u16string& path, uint64_t maxBytes, std::string* bytes) {
  platform::File file;
  uint64_t size = 0;
  if (file.Open(path, platform::FileMode::kRead) != 0 || !file.Seek(0, platform::SeekOrigin::kEnd) ||
      !file.Tell(&size) || size == 0 || size > maxBytes || !file.Seek(0, platform::SeekOrigin::kStart))
    return false;
  bytes->assign(static_cast<std::size_t>(size), '\0');
  return file.Read(bytes->data(), bytes->size());
}

bool WriteFileWhole(const std::u16string& path, std::string_view bytes) {
  const std::u16string part = path + u".~part";
  {
    platform::File file;
    if (file.Open(part, platform::FileMode::kCreate) != 0) {
      platform::MakeDirectories(ParentFolder(part));
      if (file.Open(part, platform::FileMode::kCreate) != 0) return false;
    }
    if ((!bytes.empty() && !file.Write(bytes.data(), bytes.size())) || !file.Sync()) return false;
  }
  return platform::RenameReplacing(part, path);
}
