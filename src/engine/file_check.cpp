// The file check: every entry of the file table is brought into the state the list
// describes, fetching from the server only what differs.
#include "app/log.h"
#include "engine/busy_scope.h"
#include "engine/client_archive_set.h"
#include "engine/client_path.h"
#include "engine/file_md5.h"
#include "engine/plain_file.h"
#include "platform/file.h"

int32_t ClientArchiveSet::CheckFiles(bool resume) {
  BusyScope busyScope(busy);
  if (!resume) {
    itemsTotal = fileTable.empty() ? 1 : static_cast<int32_t>(std::min<std::size_t>(fileTable.size(), INT32_MAX));
    itemsDone = 0;
  }
  const int32_t result = ProcessFileTable();
  if (result == 0) itemsDone = itemsTotal.load();
  return result;
}

int32_t ClientArchiveSet::ProcessFileTable() {
  for (auto entry = fileTable.begin(); entry != fileTable.end() && !cancelRequested();) {
    const int32_t result = ProcessEntry(entry->first, entry->second);
    // A cancel that ended a running download leaves its entry for a later run.
    if (result != 0) return cancelRequested() ? 0 : result;
    ++itemsDone;
    entry = fileTable.erase(entry);
  }
  fileTable.rehash(0);
  return 0;
}

int32_t ClientArchiveSet::ProcessEntry(const std::u16string& path, const FileInfo& info) {
  // Paths come from the server: one that could leave the client folder, or that names an
  // archive's own file, is never used.
  if (!IsUsableClientPath(path)) {
    Log::Error(u"Bad file name in list: %s", path);
    return -3;
  }
  return IsArchivePath(path) ? ProcessArchiveEntry(path, info) : ProcessPlainEntry(path, info);
}

int32_t ClientArchiveSet::ProcessArchiveEntry(const std::u16string& path, const FileInfo& info) {
  const std::u16string entryName = ArchiveEntryName(path);
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
      archive->RemoveFile(TavrinFilePackage::KeyOf(entryName));
      continue;
    }
    if (ArchivedMatches(*archive, entryName, info.digest)) return 0;
    const std::u16string serverPath = u"files\\" + path;
    if (!Download(serverPath) || !verified_.Verify(received_.data(), received_.size(), info.size, info.digest)) {
      // A cancel that ended the download is no failure of the server's.
      if (!cancelRequested()) Log::Error(u"Can't get file from server: %s", serverPath);
      return -1;
    }
    if (archive->SetFileCompressedData(entryName, received_.data(), static_cast<uint32_t>(received_.size()),
                                       info.size) != PackageResult::kOk) {
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
  if (PlainFileMatches(fullPath, info.digest)) return 0;
  const std::u16string serverPath = u"files\\" + path;
  PlainFileResult written = PlainFileResult::kContentMismatch;
  if (Download(serverPath)) {
    written = WritePlainFile(fullPath, [&](const StoredContent::Sink& sink) {
      return verified_.Verify(received_.data(), received_.size(), info.size, info.digest, sink);
    });
  }
  switch (written) {
    case PlainFileResult::kWritten:
      ++filesStored;
      return 0;
    case PlainFileResult::kContentMismatch:
      // Bytes that are short, do not inflate or do not match the list are never stored.
      if (!cancelRequested()) Log::Error(u"Can't get file from server: %s", serverPath);
      return -1;
    case PlainFileResult::kCannotWrite:
      break;
  }
  Log::Error(u"Can't create file %s", fullPath);
  return -3;
}

bool ClientArchiveSet::Download(const std::u16string& serverPath) {
  return serverClient->FetchToBuffer(serverPath, received_, cancelToken.get()).complete();
}

bool ClientArchiveSet::ArchivedMatches(TavrinFilePackage& archive, const std::u16string& entryName,
                                       const platform::Md5Digest& digest) {
  uint32_t size = 0;
  if (archive.GetStoredData(entryName, &stored_, &size) != PackageResult::kOk) return false;
  // An entry whose stored bytes are not shorter than its length reads as those bytes.
  if (stored_.size() >= size) return DigestMatches(ComputeMd5(stored_.data(), stored_.size()), digest);
  return verified_.Verify(stored_.data(), stored_.size(), size, digest);
}

bool ClientArchiveSet::PlainFileMatches(const std::u16string& fullPath, const platform::Md5Digest& digest) {
  platform::File existing;
  return existing.Open(fullPath, platform::FileMode::kRead) == 0 && DigestMatches(ComputeFileMd5(existing), digest);
}

std::u16string ClientArchiveSet::PlainFilePath(const std::u16string& relative) const {
  return clientFolder + u"\\" + relative;
}
