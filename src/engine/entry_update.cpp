#include "engine/entry_update.h"

#include <mutex>
#include <unordered_map>

#include "archive/archive_names.h"
#include "base/log.h"
#include "engine/client_archives.h"
#include "engine/client_layout.h"
#include "engine/client_links.h"
#include "engine/client_path.h"
#include "engine/plain_file.h"
#include "platform/file.h"

namespace {

EntryOutcome Outcome(EntryOutcome::Kind kind) {
  EntryOutcome outcome;
  outcome.kind = kind;
  return outcome;
}

}  // namespace

std::optional<std::size_t> FirstConflictingEntry(const std::vector<ListEntry>& entries, bool inOrder) {
  std::unordered_map<std::u16string, const FileInfo*> listed;
  listed.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!IsUsableClientPath(entries[i].name)) continue;
    const auto [place, added] = listed.emplace(TargetKey(entries[i].name), &entries[i].info);
    if (added || *place->second == entries[i].info) continue;
    // In order, a deletion before content is a file whose name changed its case.
    if (inOrder && place->second->size == kDeleteSize) {
      place->second = &entries[i].info;
      continue;
    }
    return i;
  }
  return std::nullopt;
}

EntryUpdate::EntryUpdate(ClientArchives& archives, const ClientLayout& layout, ContentSource& source,
                         const OperationContext& context)
    : archives_(archives),
      layout_(layout),
      source_(source),
      check_(archives, layout, [&context] { return context.cancelled(); }) {}

EntryOutcome EntryUpdate::Run(std::size_t index, const ListEntry& entry, TargetState known) {
  const std::optional<std::size_t> archive = ArchiveOfPath(entry.name);
  return archive ? Archived(*archive, index, entry, known) : Plain(index, entry, known);
}

EntryOutcome EntryUpdate::Archived(std::size_t archiveIndex, std::size_t index, const ListEntry& entry,
                                   TargetState known) {
  const std::u16string entryName = ArchiveEntryName(entry.name);
  const std::u16string_view name = kArchiveNames[archiveIndex];
  TavrinFilePackage* archive = archives_.Find(name);
  if (archive == nullptr) {
    // A check may run while some archive could not be opened; its entries cannot be handled.
    Log::Error(u"GetPackage error");
    return {EntryOutcome::Kind::kArchiveFailed, std::u16string(name), PackageResult::kNotOpen, {}, {}};
  }
  if (entry.info.size == kDeleteSize) {
    std::lock_guard<std::mutex> lock(archives_.LockOf(archiveIndex));
    archive->RemoveFile(TavrinFilePackage::KeyOf(entryName));
    return {};
  }
  const TargetState state = Checked(entry, known);
  if (state == TargetState::kMatches) return {};
  if (state == TargetState::kBrokenOff) return Outcome(EntryOutcome::Kind::kBrokenOff);
  StoredForm stored;
  if (!source_.Stored(index, entry, &stored)) return Outcome(EntryOutcome::Kind::kWrongContent);
  PackageResult result = PackageResult::kOk;
  {
    std::lock_guard<std::mutex> lock(archives_.LockOf(archiveIndex));
    result = archive->SetFileCompressedData(entryName, stored.pieces, stored.length, entry.info.size);
  }
  if (result == PackageResult::kSourceFailed) return Outcome(EntryOutcome::Kind::kWrongContent);
  if (result == PackageResult::kDiskFull) {
    const DiskShortage shortage = ShortageAt(layout_.ArchiveBasePath(name), archive->refusedBytes());
    Log::Error(u"SetFileCompressedData error%s", ShortageLogText(shortage));
    return {EntryOutcome::Kind::kArchiveFailed, std::u16string(name), result, {}, shortage};
  }
  if (result != PackageResult::kOk) {
    Log::Error(u"SetFileCompressedData error");
    return {EntryOutcome::Kind::kArchiveFailed, std::u16string(name), result, {}, {}};
  }
  return Outcome(EntryOutcome::Kind::kStored);
}

EntryOutcome EntryUpdate::Plain(std::size_t index, const ListEntry& entry, TargetState known) {
  const std::u16string fullPath = layout_.PlainFilePath(entry.name);
  // Neither written nor deleted through a link: it could lead anywhere.
  const std::u16string link = LinkBelow(layout_.root(), fullPath);
  if (!link.empty()) {
    Log::Error(u"%s is a link: the updater writes nothing through links", link);
    return {EntryOutcome::Kind::kFileFailed, {}, PackageResult::kOk, link, {}};
  }
  if (entry.info.size == kDeleteSize) {
    platform::RemoveFile(fullPath);
    return {};
  }
  const TargetState state = Checked(entry, known);
  if (state == TargetState::kMatches) return {};
  if (state == TargetState::kBrokenOff) return Outcome(EntryOutcome::Kind::kBrokenOff);
  PlainFileResult written = PlainFileResult::kContentMismatch;
  const auto write = [&] {
    return WritePlainFile(fullPath, layout_.plainFilePart(),
                          [&](const StoredContent::Sink& sink) { return source_.Content(index, entry, sink); });
  };
  if (source_.Prepare(index, entry)) written = write();
  if (written == PlainFileResult::kContentMismatch && source_.Retry(index, entry)) written = write();
  switch (written) {
    case PlainFileResult::kWritten:
      return Outcome(EntryOutcome::Kind::kStored);
    case PlainFileResult::kContentMismatch:
      // Bytes that are short, do not inflate or do not match the list are never stored.
      source_.ReportWrongContent(index, entry);
      return Outcome(EntryOutcome::Kind::kWrongContent);
    case PlainFileResult::kDiskFull: {
      // Measured where the content was written, once the part written of it is gone again.
      const DiskShortage shortage = ShortageAt(layout_.plainFilePart(), entry.info.size);
      Log::Error(u"Can't create file %s%s", fullPath, ShortageLogText(shortage));
      return {EntryOutcome::Kind::kFileFailed, {}, PackageResult::kOk, fullPath, shortage};
    }
    case PlainFileResult::kCannotWrite:
      break;
  }
  Log::Error(u"Can't create file %s", fullPath);
  return {EntryOutcome::Kind::kFileFailed, {}, PackageResult::kOk, fullPath, {}};
}

TargetState EntryUpdate::Checked(const ListEntry& entry, TargetState known) {
  return known != TargetState::kUnknown ? known : check_.Run(entry);
}
