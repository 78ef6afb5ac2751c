#include "engine/client_archives.h"

#include <algorithm>
#include <utility>

#include "archive/archive_format.h"
#include "base/decimal_text.h"
#include "base/log.h"
#include "base/number_file.h"
#include "base/paths.h"
#include "engine/client_links.h"
#include "platform/file.h"

namespace {

void StoreInitialVersion(TavrinFilePackage& archive) {
  archive.SetFileData(std::u16string(kVersionEntryName), "0", 1);
}

}  // namespace

ClientArchives::ClientArchives(const ClientLayout& layout) : layout_(layout) {}

ClientArchives::~ClientArchives() {
  for (auto& archive : archives_) archive->clearIndexChanged();
  archives_.clear();
}

OpenResult ClientArchives::Open(const OperationContext& context) {
  ProgressSink& progress = context.progress();
  progress.StartItems(static_cast<int32_t>(kArchiveNames.size()));
  archives_.clear();
  OpenResult result;
  result.link = FirstLinkBelow(layout_.root(), layout_.WrittenFiles());
  if (!result.link.empty()) {
    Log::Error(u"%s is a link: the updater writes nothing through links", result.link);
    progress.FinishItems();
    return result;
  }
  for (std::u16string_view name : kArchiveNames) {
    const std::u16string archiveName(name);
    const std::u16string basePath = layout_.ArchiveBasePath(name);
    auto archive = std::make_unique<TavrinFilePackage>();
    const PackageResult opened = archive->Open(basePath, archiveName);
    if (opened != PackageResult::kOk) {
      Log::Error(u"Can't open package: %s", basePath);
      platform::MakeDirectories(ParentFolder(basePath));
      const PackageResult created = archive->Create(basePath, archiveName);
      if (created == PackageResult::kOk) {
        StoreInitialVersion(*archive);
      } else {
        Log::Error(u"Can't create package: %s", basePath);
        const std::u16string first = basePath + u".pck";
        result.failed.push_back(
            {archiveName, first, opened, created, archive->fileError(), platform::FolderExists(first)});
      }
    }
    if (archive->isOpen()) {
      if (archive->format() != archive_format::kFormat188) {
        StoreInitialVersion(*archive);
        if (archive->indexChanged()) {
          archive->WriteIndex();
          archive->clearIndexChanged();
        }
      }
      archives_.push_back(std::move(archive));
    }
    progress.ItemDone();
  }
  progress.FinishItems();
  return result;
}

WriteResult ClientArchives::Save(const OperationContext& context) {
  ProgressSink& progress = context.progress();
  progress.StartItems(archives_.empty() ? 1 : static_cast<int32_t>(archives_.size()));
  WriteResult result;
  for (auto& archive : archives_) {
    if (archive->indexChanged()) {
      // An index that could not be written stays marked, so that the next save tries again.
      const PackageResult saved = archive->isOpen() ? archive->WriteIndex() : PackageResult::kOk;
      if (saved != PackageResult::kOk) {
        const WriteResult failed =
            ArchiveFailure(WriteResult::Outcome::kArchiveFailed, u"Can't save package: %s%s", *archive, saved);
        if (result.written()) result = failed;
      } else {
        archive->clearIndexChanged();
      }
    }
    progress.ItemDone();
  }
  progress.FinishItems();
  // The version file moves on only when every archive holds the version on disk.
  const std::optional<int32_t> version = std::exchange(pendingVersion_, std::nullopt);
  if (result.written() && version) result = WriteVersionFile(*version);
  return result;
}

int32_t ClientArchives::ReadLocalVersion() {
  if (!allOpen()) return 0;
  int32_t version = 0;
  if (pendingVersion_) {
    version = *pendingVersion_;
  } else {
    const std::optional<int32_t> stored = ReadNumberFile(layout_.clientVersionFile());
    if (!stored) {
      WriteNumberFile(layout_.clientVersionFile(), 0);
      return 0;
    }
    version = *stored;
  }

  // A version no release can have (below 0, or beyond the bound) is damage: as missing, it
  // has the full list bring the client back.
  const auto usable = [](int32_t value) { return value >= 0 && value <= kMaxVersion; };
  if (!usable(version)) return 0;
  std::vector<uint8_t> entry;
  for (auto& archive : archives_) {
    if (archive->GetFileData(std::u16string(kVersionEntryName), false, &entry) != PackageResult::kOk || entry.empty())
      return 0;
    const int32_t stored = ScanDecimal(entry.data(), entry.size());
    if (!usable(stored)) return 0;
    version = std::min(version, stored);
  }
  return version;
}

WriteResult ClientArchives::WriteLocalVersion(int32_t version) {
  pendingVersion_.reset();
  const std::string text = DecimalText(version);
  for (auto& archive : archives_) {
    const PackageResult stored =
        archive->SetFileData(std::u16string(kVersionEntryName), text.data(), static_cast<uint32_t>(text.size()));
    if (stored != PackageResult::kOk)
      return ArchiveFailure(WriteResult::Outcome::kVersionEntryFailed, u"Can't store the version in package: %s%s",
                            *archive, stored);
  }
  if (!hasUnsavedChanges()) return WriteVersionFile(version);
  pendingVersion_ = version;
  return {};
}

WriteResult ClientArchives::ArchiveFailure(WriteResult::Outcome outcome, const char16_t* logFormat,
                                           const TavrinFilePackage& archive, PackageResult result) const {
  WriteResult failed;
  failed.outcome = outcome;
  failed.path = layout_.ArchiveBasePath(archive.name());
  if (result == PackageResult::kDiskFull) failed.diskFull = ShortageAt(failed.path, archive.refusedBytes());
  Log::Error(logFormat, failed.path, failed.diskFull ? ShortageLogText(*failed.diskFull) : std::u16string());
  return failed;
}

WriteResult ClientArchives::WriteVersionFile(int32_t version) {
  // Written beside the file and renamed over it: a write that fails (a full disk) leaves
  // the old version, never an empty file.
  const std::u16string& versionFile = layout_.clientVersionFile();
  const std::u16string& partPath = layout_.clientVersionPart();
  const std::string text = DecimalText(version);
  WriteResult failed;
  failed.outcome = WriteResult::Outcome::kVersionFileFailed;
  failed.path = versionFile;
  bool written = false;
  bool noRoom = false;
  {
    platform::File file;
    if (file.Open(partPath, platform::FileMode::kCreate) != 0) {
      platform::MakeDirectories(ParentFolder(versionFile));
      if (file.Open(partPath, platform::FileMode::kCreate) != 0) {
        Log::Error(u"Can't create file %s", versionFile);
        return failed;
      }
    }
    written = file.Write(text.data(), text.size()) && file.Sync();
    noRoom = !written && file.diskFull();
  }
  if (!written || !platform::RenameReplacing(partPath, versionFile)) {
    platform::RemoveFile(partPath);
    std::u16string cause;
    if (noRoom) {
      // Measured once the part written is gone again.
      failed.diskFull = ShortageAt(versionFile, text.size());
      cause = ShortageLogText(*failed.diskFull);
    } else if (platform::FolderExists(versionFile)) {
      failed.folderInPlace = true;
      cause = u" (a folder is in its place)";
    }
    Log::Error(u"Can't create file %s%s", versionFile, cause);
    return failed;
  }
  return {};
}

void ClientArchives::CloseAll() {
  archives_.clear();
}

TavrinFilePackage* ClientArchives::Find(std::u16string_view name) {
  for (auto& archive : archives_)
    if (archive->name() == name) return archive.get();
  return nullptr;
}

bool ClientArchives::hasUnsavedChanges() const {
  return std::any_of(archives_.begin(), archives_.end(), [](const auto& archive) { return archive->indexChanged(); });
}
