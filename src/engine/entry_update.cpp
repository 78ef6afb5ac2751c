#include "engine/entry_update.h"

#include <mutex>

#include "base/log.h"
#include "engine/client_archive_set.h"
#include "engine/client_path.h"
#include "engine/plain_file.h"
#include "platform/file.h"

EntryUpdate::EntryUpdate(ClientArchiveSet& set, ContentSource& source, EntryErrors errors)
    : set_(set), source_(source), errors_(errors), check_(set, [&set] { return set.cancelRequested(); }) {}

int32_t EntryUpdate::Run(std::size_t index, const ListedEntry& entry, TargetState known) {
  return IsArchivePath(entry.path) ? Archived(index, entry, known) : Plain(index, entry, known);
}

int32_t EntryUpdate::Archived(std::size_t index, const ListedEntry& entry, TargetState known) {
  const std::u16string entryName = ArchiveEntryName(entry.path);
  for (std::size_t i = 0; i < ClientArchiveSet::archiveNames.size(); ++i) {
    const std::u16string_view name = ClientArchiveSet::archiveNames[i];
    if (!BelongsToArchive(entry.path, name)) continue;
    TavrinFilePackage* archive = set_.GetPackage(name);
    if (archive == nullptr) {
      // A check may run while some archive could not be opened; its entries cannot be handled.
      Log::Error(u"GetPackage error");
      return errors_.archive;
    }
    if (entry.info.size == kDeleteSize) {
      // A deletion reaches every archive whose name begins the path.
      std::lock_guard<std::mutex> lock(set_.archiveMutex(i));
      archive->RemoveFile(TavrinFilePackage::KeyOf(entryName));
      continue;
    }
    const TargetState state = Checked(entry, known);
    if (state == TargetState::kMatches) return 0;
    if (state == TargetState::kBrokenOff) return kBrokenOff;
    std::span<const uint8_t> stored;
    if (!source_.Stored(index, entry, &stored)) return errors_.wrongContent;
    PackageResult result = PackageResult::kOk;
    {
      std::lock_guard<std::mutex> lock(set_.archiveMutex(i));
      result = archive->SetFileCompressedData(entryName, stored.data(), static_cast<uint32_t>(stored.size()),
                                              entry.info.size);
    }
    if (result != PackageResult::kOk) {
      Log::Error(u"SetFileCompressedData error");
      return errors_.archive;
    }
    ++set_.filesStored;
    return 0;
  }
  return 0;
}

int32_t EntryUpdate::Plain(std::size_t index, const ListedEntry& entry, TargetState known) {
  const std::u16string fullPath = set_.PlainFilePath(entry.path);
  if (entry.info.size == kDeleteSize) {
    platform::RemoveFile(fullPath);
    return 0;
  }
  const TargetState state = Checked(entry, known);
  if (state == TargetState::kMatches) return 0;
  if (state == TargetState::kBrokenOff) return kBrokenOff;
  PlainFileResult written = PlainFileResult::kContentMismatch;
  if (source_.Prepare(index, entry)) {
    written =
        WritePlainFile(fullPath, [&](const StoredContent::Sink& sink) { return source_.Content(index, entry, sink); });
  }
  switch (written) {
    case PlainFileResult::kWritten:
      ++set_.filesStored;
      return 0;
    case PlainFileResult::kContentMismatch:
      // Bytes that are short, do not inflate or do not match the list are never stored.
      source_.ReportWrongContent(index, entry);
      return errors_.wrongContent;
    case PlainFileResult::kCannotWrite:
      break;
  }
  Log::Error(u"Can't create file %s", fullPath);
  return errors_.plainFile;
}

TargetState EntryUpdate::Checked(const ListedEntry& entry, TargetState known) {
  return known != TargetState::kUnknown ? known : check_.Run(entry);
}
