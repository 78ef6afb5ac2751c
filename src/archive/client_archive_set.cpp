#include "archive/client_archive_set.h"

#include <algorithm>
#include <filesystem>

#include "app/log.h"
#include "archive/version_text.h"
#include "platform/file.h"

namespace {

constexpr uint32_t kFormat188 = 188;

// programFolder joined with the parts, made absolute and with "." and ".." resolved
// lexically; the path need not exist.
std::u16string ClientPath(const std::u16string& programFolder, std::initializer_list<const char16_t*> parts) {
  std::filesystem::path path(programFolder);
  for (const char16_t* part : parts) path /= std::filesystem::path(part);
  std::error_code ignored;
  std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  if (absolute.empty()) absolute = path;
  return absolute.lexically_normal().u16string();
}

void StoreInitialVersion(TavrinFilePackage& archive) {
  archive.SetFileData(std::u16string(kVersionEntryName), "0", 1);
}

}  // namespace

std::u16string ParentFolder(const std::u16string& path) {
  const std::size_t last = path.find_last_of(u"\\/");
  return last == std::u16string::npos ? std::u16string() : path.substr(0, last);
}

ClientArchiveSet::ClientArchiveSet(const std::u16string& folder)
    : ClientArchiveSet(folder, kUpdateServerHost, kUpdateServerPort) {}

ClientArchiveSet::ClientArchiveSet(const std::u16string& folder, std::u16string serverHost, uint16_t port)
    : programFolder(folder),
      clientFolder(ClientPath(folder, {u"..", u"velkar"})),
      clientVersionPath(ClientPath(folder, {u"..", u"config", u"velkar", u"version.sw"})),
      patcherVersionPath(ClientPath(folder, {u"..", u"config", u"patcher", u"version.sw"})),
      tempFilePath(ClientPath(folder, {u"..", u"config", u"patcher", u"tempfile.dat"})),
      serverClient(std::make_unique<UpdateServerClient>(std::move(serverHost), port)) {
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
      if (archive->format() != kFormat188) {
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
  for (auto& archive : archives) {
    if (archive->indexChanged()) {
      if (archive->isOpen()) archive->WriteIndex();
      archive->clearIndexChanged();
    }
    ++itemsDone;
  }
  itemsDone = itemsTotal.load();
  return true;
}

int32_t ClientArchiveSet::ReadLocalVersion() {
  if (archives.size() != archiveNames.size()) return 0;
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
  int32_t version = ScanDecimal(text, length);

  std::vector<uint8_t> entry;
  for (auto& archive : archives) {
    if (archive->GetFileData(std::u16string(kVersionEntryName), false, &entry) != PackageResult::kOk || entry.empty())
      return 0;
    version = std::min(version, ScanDecimal(entry.data(), entry.size()));
  }
  return version;
}

bool ClientArchiveSet::WriteLocalVersion(int32_t version) {
  const std::string text = DecimalText(version);
  for (auto& archive : archives)
    archive->SetFileData(std::u16string(kVersionEntryName), text.data(), static_cast<uint32_t>(text.size()));
  platform::File file;
  if (file.Open(clientVersionPath, platform::FileMode::kCreate) != 0) {
    platform::MakeDirectories(ParentFolder(clientVersionPath));
    if (file.Open(clientVersionPath, platform::FileMode::kCreate) != 0) return false;
  }
  file.Write(text.data(), text.size());
  return true;
}

TavrinFilePackage* ClientArchiveSet::GetPackage(std::u16string_view name) {
  for (auto& archive : archives)
    if (archive->name() == name) return archive.get();
  return nullptr;
}
