#include "engine/plain_file.h"

#include "base/paths.h"
#include "platform/file.h"

PlainFileResult WritePlainFile(const std::u16string& fullPath, const std::u16string& partPath,
                               const std::function<bool(const StoredContent::Sink& sink)>& check) {
  const std::u16string folder = ParentFolder(fullPath);
  if (!folder.empty() && !platform::FolderExists(folder)) {
    // A name from the server creates folders only for content that is right.
    if (!check(nullptr)) return PlainFileResult::kContentMismatch;
    if (!platform::MakeDirectories(folder)) return PlainFileResult::kCannotWrite;
  }
  PlainFileResult result = PlainFileResult::kWritten;
  {
    platform::File part;
    if (part.Open(partPath, platform::FileMode::kCreate) != 0 &&
        (!platform::MakeDirectories(ParentFolder(partPath)) || part.Open(partPath, platform::FileMode::kCreate) != 0))
      return PlainFileResult::kCannotWrite;
    bool writeFailed = false;
    const StoredContent::Sink toPart = [&](const uint8_t* data, std::size_t size) {
      writeFailed = !part.Write(data, size);
      return !writeFailed;
    };
    const auto cannotWrite = [&part] {
      return part.diskFull() ? PlainFileResult::kDiskFull : PlainFileResult::kCannotWrite;
    };
    if (!check(toPart)) {
      result = writeFailed ? cannotWrite() : PlainFileResult::kContentMismatch;
    } else if (!part.Sync()) {
      // The bytes reach the disk before the name points at them.
      result = cannotWrite();
    }
  }
  if (result == PlainFileResult::kWritten && !platform::RenameReplacing(partPath, fullPath))
    result = PlainFileResult::kCannotWrite;
  if (result != PlainFileResult::kWritten) platform::RemoveFile(partPath);
  return result;
}
