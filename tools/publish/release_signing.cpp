#include "release_signing.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <system_error>

#include "chunk_store.h"
#include "formats/chunk_index.h"
#include "formats/file_list.h"
#include "formats/patch_list.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

constexpr char kKeyFileHeader[] = "solmere-release-secret-key 1\n";

// Resources above this are no server resource of a release.
constexpr uint64_t kMaxResourceBytes = uint64_t{1} << 32;

bool AddResource(const fs::path& file, const std::string& name, ReleaseManifest* manifest, std::string* why) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(file, kMaxResourceBytes, &bytes, why)) return false;
  manifest->resources.push_back({name, bytes.size(), Sha256(bytes.data(), bytes.size())});
  return true;
}

// The file of a package a line of patches\list names: publish stores each under patches\.
fs::path PackageFileOf(const fs::path& serverRoot, const std::string& url) {
  const std::size_t slash = url.find_last_of('/');
  return serverRoot / "patches" / (slash == std::string::npos ? url : url.substr(slash + 1));
}

// The chunk indexes of the release's large files: an index an attacker swapped would only make
// the updater fetch chunks in vain (the content is checked against the list), yet a signed tree
// vouches for all it serves.
bool AddChunkIndexes(const fs::path& serverRoot, ReleaseManifest* manifest, std::string* why) {
  std::vector<uint8_t> bytes;
  std::vector<ListEntry> entries;
  int32_t listed = 0;
  if (!ReadFileBytes(serverRoot / "fulllist", kMaxResourceBytes, &bytes, why)) return false;
  // A fulllist that is none is a fault of its own, reported where it is read; it names no index.
  std::string notAList;
  if (!DecodeFullList(bytes, &listed, &entries, &notAList)) return true;
  std::error_code error;
  for (const ListEntry& entry : entries) {
    if (entry.info.size == kDeleteSize || entry.info.size <= kChunkedFileSize) continue;
    const std::string name = ChunkIndexResource(entry.info.digest);
    const fs::path file = ChunkStorePath(serverRoot, name);
    // Files published before chunks were have none; the updater downloads them whole.
    if (manifest->Find(name) != nullptr || !fs::exists(file, error)) continue;
    if (!AddResource(file, name, manifest, why)) return false;
  }
  return true;
}

}  // namespace

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

int64_t ExpiryInDays(int64_t days) {
  return NowSeconds() + days * 24 * 60 * 60;
}

bool WriteNewKeyFile(const fs::path& path, PublicKey* publicKey, std::string* why) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(path, error))) {
    *why = PathText(path) + " exists: a key file is never overwritten";
    return false;
  }
  const std::optional<KeyPair> pair = NewKeyPair();
  if (!pair) {
    *why = "no key could be made (the system gave no random bytes)";
    return false;
  }
  // Made empty and closed to all but its owner before the key goes in.
  {
    std::ofstream created(path, std::ios::binary);
    if (!created) {
      *why = "cannot create " + PathText(path);
      return false;
    }
  }
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, error);
  if (error) {
    fs::remove(path, error);
    *why = "cannot make " + PathText(path) + " private to its owner";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << kKeyFileHeader << HexText(pair->secretKey.data(), pair->secretKey.size()) << "\n";
  out.close();
  if (!out) {
    fs::remove(path, error);
    *why = "cannot write " + PathText(path);
    return false;
  }
  *publicKey = pair->publicKey;
  return true;
}

bool ReadKeyFile(const fs::path& path, SecretKey* key, std::string* why) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, 4096, &bytes, why)) return false;
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t header = std::strlen(kKeyFileHeader);
  std::optional<std::vector<uint8_t>> secret;
  if (text.size() == header + 2 * kSecretKeySize + 1 && text.compare(0, header, kKeyFileHeader) == 0 &&
      text.back() == '\n')
    secret = BytesOfHex(std::string_view(text).substr(header, 2 * kSecretKeySize));
  if (!secret || secret->size() != kSecretKeySize) {
    *why = PathText(path) + " is no key file of publish keygen";
    return false;
  }
  std::memcpy(key->data(), secret->data(), key->size());
  return true;
}

bool ComputeReleaseManifest(const fs::path& serverRoot, int32_t release, int64_t expires, ReleaseManifest* manifest,
                            std::string* why) {
  manifest->release = release;
  manifest->expires = expires;
  manifest->resources.clear();
  const std::string version = std::to_string(release);
  manifest->resources.push_back({"version", version.size(), Sha256(version.data(), version.size())});
  std::error_code error;
  if (!AddResource(serverRoot / "fulllist", "fulllist", manifest, why)) return false;
  if (!AddChunkIndexes(serverRoot, manifest, why)) return false;
  for (int64_t n = 1; fs::exists(serverRoot / ("list_" + std::to_string(n)), error); ++n)
    if (!AddResource(serverRoot / ("list_" + std::to_string(n)), "list_" + std::to_string(n), manifest, why))
      return false;
  const fs::path patchList = serverRoot / "patches" / "list";
  if (fs::exists(patchList, error)) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(patchList, kMaxResourceBytes, &bytes, why)) return false;
    manifest->resources.push_back({"patches\\list", bytes.size(), Sha256(bytes.data(), bytes.size())});
    for (const PatchLine& line : ParsePatchList(std::string(bytes.begin(), bytes.end()))) {
      if (manifest->Find(line.url) != nullptr) continue;
      if (!AddResource(PackageFileOf(serverRoot, line.url), line.url, manifest, why)) return false;
    }
  }
  for (const char* list : {"patcher\\list", "launcher\\list"}) {
    const std::string name(list);
    const fs::path file = serverRoot / name.substr(0, name.find('\\')) / "list";
    if (fs::exists(file, error) && !AddResource(file, name, manifest, why)) return false;
  }
  if (fs::exists(serverRoot / "patcher_version_new", error) &&
      !AddResource(serverRoot / "patcher_version_new", "patcher_version_new", manifest, why))
    return false;
  return true;
}

bool WriteReleaseManifest(const fs::path& serverRoot, const ReleaseManifest& manifest,
                          const std::optional<SecretKey>& key, std::string* why) {
  const std::string text = FormatReleaseManifest(manifest);
  const fs::path signaturePath = serverRoot / kManifestSignatureResource;
  std::error_code error;
  // The old signature goes first: at no moment does a signature stand beside a manifest it
  // was not made for.
  fs::remove(signaturePath, error);
  if (!WriteFileAtomically(serverRoot / kManifestResource, text.data(), text.size(), why)) return false;
  if (!key) return true;
  const std::string signature = SignatureText(text, *key);
  if (signature.empty()) {
    *why = "the manifest could not be signed";
    return false;
  }
  return WriteFileAtomically(signaturePath, signature.data(), signature.size(), why);
}
