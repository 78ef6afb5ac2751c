#include "engine/client_archive_set.h"

#include <algorithm>
#include <filesystem>
#include <thread>
#include <utility>

#include "archive/archive_format.h"
#include "base/decimal_text.h"
#include "base/log.h"
#include "base/paths.h"
#include "platform/file.h"

namespace {

void StoreInitialVersion(TavrinFilePackage& archive) {
  archive.SetFileData(std::u16string(kVersionEntryName), "0", 1);
}

}  // namespace

ClientArchiveSet::ClientArchiveSet(const std::u16string& folder, const UpdateServerAddress& server)
    : programFolder(folder),
      clientFolder(NormalisedPath(folder, {u"..", u"velkar"})),
      clientVersionPath(NormalisedPath(folder, {u"..", u"config", u"velkar", u"version.sw"})),
      patcherVersionPath(NormalisedPath(folder, {u"..", u"config", u"patcher", u"version.sw"})),
      tempFilePath(NormalisedPath(folder, {u"..", u"config", u"patcher", u"tempfile.dat"})),
      serverClient(std::make_unique<UpdateServerClient>(server)) {
  // The outcome is looked at by the first fetch, which connects again when needed.
  serverClient->Connect();
}

ClientArchiveSet::~ClientArchiveSet() {
  serverClient.reset();
  platform::RemoveFile(tempFilePath);
  // Released without writing: changes not saved by now are cut away at the next open.
  for (auto& archive : archives) archive->clearIndexChanged();
  archives.clear();
}

bool ClientArchiveSet::OpenArchives() {
  itemsTotal = static_cast<int32_t>(archiveNames.size());
  itemsDone = 0;
  archives.clear();
  for (std::u16string_view name : archiveNames) {
    const std::u16string archiveName(name);
    const std::u16string basePath = clientFolder + u"\\" + archiveName;
    auto archive = std::make_unique<TavrinFilePackage>();
    if (archive->Open(basePath, archiveName) != PackageResult::kOk) {
      Log::Error(u"Can't open package: %s", basePath);
      platform::MakeDirectories(ParentFolder(basePath));
      if (archive->Create(basePath, archiveName) == PackageResult::kOk)
        StoreInitialVersion(*archive);
      else
        Log::Error(u"Can't create package: %s", basePath);
    }
    if (archive->isOpen()) {
      if (archive->format() != archive_format::kFormat188) {
        StoreInitialVersion(*archive);
        if (archive->indexChanged()) {
          archive->WriteIndex();
          archive->clearIndexChanged();
        }
      }
      archives.push_back(std::move(archive));
    }
    ++itemsDone;
  }
  itemsDone = itemsTotal.load();
  return archives.size() == archiveNames.size();
}

bool ClientArchiveSet::SaveArchives() {
  itemsTotal = archives.empty() ? 1 : static_cast<int32_t>(archives.size());
  itemsDone = 0;
  bool saved = true;
  for (auto& archive : archives) {
    if (archive->indexChanged()) {
      // An index that could not be written stays marked, so that the next save tries again.
      if (archive->isOpen() && archive->WriteIndex() != PackageResult::kOk) {
        Log::Error(u"Can't save package: %s", clientFolder + u"\\" + archive->name());
        saved = false;
      } else {
        archive->clearIndexChanged();
      }
    }
    ++itemsDone;
  }
  itemsDone = itemsTotal.load();
  // The version file moves on only when every archive holds the version on disk.
  const std::optional<int32_t> version = std::exchange(pendingVersion_, std::nullopt);
  if (saved && version) saved = WriteVersionFile(*version);
  return saved;
}

int32_t ClientArchiveSet::ReadLocalVersion() {
  if (archives.size() != archiveNames.size()) return 0;
  int32_t version = 0;
  if (pendingVersion_) {
    version = *pendingVersion_;
  } else {
    platform::File file;
    if (file.Open(clientVersionPath, platform::FileMode::kReadWrite) != 0) {
      platform::MakeDirectories(ParentFolder(clientVersionPath));
      if (file.Open(clientVersionPath, platform::FileMode::kCreate) == 0) file.Write("0", 1);
      return 0;
    }
    // The file holds one short number; what follows it is ignored.
    char text[64];
    std::size_t length = 0;
    uint64_t size = 0;
    if (file.Seek(0, platform::SeekOrigin::kEnd) && file.Tell(&size) && file.Seek(0, platform::SeekOrigin::kStart)) {
      length = static_cast<std::size_t>(std::min<uint64_t>(size, sizeof text));
      if (length > 0 && !file.Read(text, length)) length = 0;
    }
    file.Close();
    version = ScanDecimal(text, length);
  }

  std::vector<uint8_t> entry;
  for (auto& archive : archives) {
    if (archive->GetFileData(std::u16string(kVersionEntryName), false, &entry) != PackageResult::kOk || entry.empty())
      return 0;
    version = std::min(version, ScanDecimal(entry.data(), entry.size()));
  }
  return version;
}

bool ClientArchiveSet::WriteLocalVersion(int32_t version) {
  pendingVersion_.reset();
  const std::string text = DecimalText(version);
  for (auto& archive : archives) {
    if (archive->SetFileData(std::u16string(kVersionEntryName), text.data(), static_cast<uint32_t>(text.size())) !=
        PackageResult::kOk) {
      Log::Error(u"Can't store the version in package: %s", clientFolder + u"\\" + archive->name());
      return false;
    }
  }
  const bool unsaved =
      std::any_of(archives.begin(), archives.end(), [](const auto& archive) { return archive->indexChanged(); });
  if (!unsaved) return WriteVersionFile(version);
  pendingVersion_ = version;
  return true;
}

bool ClientArchiveSet::WriteVersionFile(int32_t version) {
  // Written beside the file and renamed over it: a write that fails (a full disk) leaves
  // the old version, never an empty file.
  const std::u16string partPath = clientVersionPath + u".~part";
  const std::string text = DecimalText(version);
  bool written = false;
  {
    platform::File file;
    if (file.Open(partPath, platform::FileMode::kCreate) != 0) {
      platform::MakeDirectories(ParentFolder(clientVersionPath));
      if (file.Open(partPath, platform::FileMode::kCreate) != 0) {
        Log::Error(u"Can't create file %s", clientVersionPath);
        return false;
      }
    }
    written = file.Write(text.data(), text.size()) && file.Sync();
  }
  if (!written || !platform::RenameReplacing(partPath, clientVersionPath)) {
    platform::RemoveFile(partPath);
    Log::Error(u"Can't create file %s", clientVersionPath);
    return false;
  }
  return true;
}

TavrinFilePackage* ClientArchiveSet::GetPackage(std::u16string_view name) {
  for (auto& archive : archives)
    if (archive->name() == name) return archive.get();
  return nullptr;
}

int ClientArchiveSet::DefaultCheckThreads() {
  // One per core: reading, inflating and hashing keep a core busy each. More than four
  // would wait for the disk.
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(cores, 1u, 4u));
}

std::u16string ClientArchiveSet::PlainFilePath(const std::u16string& relative) const {
  return clientFolder + u"\\" + relative;
}
