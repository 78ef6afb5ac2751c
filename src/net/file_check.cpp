// The file check: every entry of the file table is brought into the state the list
// describes, fetching from the server only what differs.
#include "app/log.h"
#include "archive/client_archive_set.h"
#include "net/client_path.h"
#include "net/file_md5.h"
#include "platform/file.h"

int32_t ClientArchiveSet::CheckFiles(bool resume) {
  busy = true;
  if (!resume) {
    cancelRequested = false;
    itemsTotal = fileTable.empty() ? 1 : static_cast<int32_t>(std::min<std::size_t>(fileTable.size(), INT32_MAX));
    itemsDone = 0;
  }
  const int32_t result = ProcessFileTable();
  if (result == 0) itemsDone = itemsTotal.load();
  busy = false;
  return result;
}

int32_t ClientArchiveSet::ProcessFileTable() {
  for (auto entry = fileTable.begin(); entry != fileTable.end() && !cancelRequested;) {
    const int32_t result = ProcessEntry(entry->first, entry->second);
    if (result != 0) return result;
    ++itemsDone;
    entry = fileTable.erase(entry);
  }
  fileTable.rehash(0);
  return 0;
}

int32_t ClientArchiveSet::ProcessEntry(const std::u16string& path, const FileInfo& info) {
  // Paths come from the server: one that could leave the client folder is never used.
  if (!IsSafeClientPath(path)) {
    Log::Error(u"Bad file name in list: %s", path);
    return -3;
  }
  return IsArchivePath(path) ? ProcessArchiveEntry(path, info) : ProcessPlainEntry(path, info);
}

int32_t ClientArchiveSet::ProcessArchiveEntry(const std::u16string& path, const FileInfo& info) {
  for (std::u16string_view name : archiveNames) {
    if (!BelongsToArchive(path, name)) continue;
    TavrinFilePackage* archive = GetPackage(name);
    if (archive == nullptr) {
      // A check may run while some archive could not be opened; its entries cannot be handled.
      Log::Error(u"GetPackage error");
      return -2;
    }
    if (info.size == kDeleteSize) {
      // A deletion reaches every archive whose name begins the path.
      archive->RemoveFile(TavrinFilePackage::KeyOf(path));
      continue;
    }
    if (archive->GetFileData(path, true, &content_) == PackageResult::kOk &&
        DigestMatches(ComputeMd5(content_.data(), content_.size()), info.digest))
      return 0;
    if (!Download(path, info)) return -1;
    if (archive->SetFileCompressedData(path, received_.data(), static_cast<uint32_t>(received_.size()), info.size) !=
        PackageResult::kOk) {
      Log::Error(u"SetFileCompressedData error");
      return -2;
    }
    ++filesStored;
    return 0;
  }
  return 0;
}

int32_t ClientArchiveSet::ProcessPlainEntry(const std::u16string& path, const FileInfo& info) {
  const std::u16string fullPath = PlainFilePath(path);
  if (info.size == kDeleteSize) {
    platform::RemoveFile(fullPath);
    return 0;
  }
  {
    platform::File existing;
    if (existing.Open(fullPath, platform::FileMode::kRead) == 0 && DigestMatches(ComputeFileMd5(existing), info.digest))
      return 0;
  }
  platform::MakeDirectories(ParentFolder(fullPath));
  if (!Download(path, info)) return -1;
  platform::File out;
  if (out.Open(fullPath, platform::FileMode::kCreate) != 0 ||
      (verified_.size() > 0 && !out.Write(verified_.data(), verified_.size()))) {
    Log::Error(u"Can't create file %s", fullPath);
    return -3;
  }
  ++filesStored;
  return 0;
}

bool ClientArchiveSet::Download(const std::u16string& path, const FileInfo& info) {
  const std::u16string serverPath = u"files\\" + path;
  const int32_t received = serverClient->FetchToBuffer(serverPath, received_);
  // Bytes that are short, do not inflate or do not match the list are never stored.
  if (received < 0 || static_cast<std::size_t>(received) != received_.size() ||
      !verified_.Verify(received_.data(), received_.size(), info.size, info.digest)) {
    Log::Error(u"Can't get file from server: %s", serverPath);
    return false;
  }
  return true;
}

std::u16string ClientArchiveSet::PlainFilePath(const std::u16string& relative) const {
  return clientFolder + u"\\" + relative;
}
