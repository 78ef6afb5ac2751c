#include "manifest.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "client_paths.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

// Far above any real client (a list entry takes at least 26 bytes per file).
constexpr uint64_t kMaxManifestBytes = 1ull << 30;

bool ParseVersionName(const std::string& text, int32_t* version) {
  if (text.empty() || text.size() > 10 || text.front() == '0') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *version);
  return error == std::errc() && end == text.data() + text.size() && *version > 0;
}

}  // namespace

void AddToManifest(const ListEntry& entry, Manifest* manifest) {
  manifest->files[IdentityOf(entry.name)] = entry;
}

std::vector<ListEntry> ManifestEntries(const Manifest& manifest) {
  std::vector<ListEntry> entries;
  entries.reserve(manifest.files.size());
  for (const auto& [identity, entry] : manifest.files) entries.push_back(entry);
  return entries;
}

std::vector<ListEntry> ChangesBetween(const Manifest& from, const Manifest& to) {
  std::vector<ListEntry> changes;
  for (const auto& [identity, entry] : to.files) {
    const auto old = from.files.find(identity);
    if (old == from.files.end() || old->second.info.digest != entry.info.digest ||
        old->second.info.size != entry.info.size)
      changes.push_back(entry);
  }
  for (const auto& [identity, entry] : from.files) {
    if (to.files.count(identity) != 0) continue;
    ListEntry deletion;
    deletion.name = DeletionName(entry.name);
    deletion.info.size = kDeleteSize;
    changes.push_back(std::move(deletion));
  }
  return changes;
}

fs::path ManifestPath(const fs::path& serverRoot, int32_t version) {
  return serverRoot / "manifests" / std::to_string(version);
}

std::vector<int32_t> PublishedReleases(const fs::path& serverRoot) {
  std::vector<int32_t> versions;
  std::error_code error;
  for (fs::directory_iterator item(serverRoot / "manifests", error), end; !error && item != end;
       item.increment(error)) {
    int32_t version = 0;
    const std::u8string name = item->path().filename().u8string();
    if (item->is_regular_file(error) && ParseVersionName(std::string(name.begin(), name.end()), &version))
      versions.push_back(version);
  }
  std::sort(versions.begin(), versions.end());
  return versions;
}

bool LoadManifest(const fs::path& serverRoot, int32_t version, Manifest* manifest, std::string* why) {
  const fs::path path = ManifestPath(serverRoot, version);
  std::vector<uint8_t> bytes;
  std::vector<ListEntry> entries;
  std::string reason;
  if (!ReadFileBytes(path, kMaxManifestBytes, &bytes, &reason) ||
      !DecodeFullList(bytes, &manifest->version, &entries, &reason)) {
    *why = "manifest " + PathText(path) + ": " + reason;
    return false;
  }
  if (manifest->version != version) {
    *why = "manifest " + PathText(path) + " holds version " + std::to_string(manifest->version);
    return false;
  }
  manifest->files.clear();
  for (const ListEntry& entry : entries) AddToManifest(entry, manifest);
  return true;
}

bool SaveManifest(const fs::path& serverRoot, const Manifest& manifest, std::string* why) {
  return WriteFileAtomically(ManifestPath(serverRoot, manifest.version),
                             EncodeFullList(manifest.version, ManifestEntries(manifest)), why);
}
