// verify: checks a server tree as the updater will read it.

#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "arguments.h"
#include "chunk_store.h"
#include "client_paths.h"
#include "commands.h"
#include "formats/chunk_index.h"
#include "formats/file_list.h"
#include "formats/patch_list.h"
#include "manifest.h"
#include "package_reader.h"
#include "package_url.h"
#include "program_files.h"
#include "release_signing.h"
#include "report.h"
#include "stored_form.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxListBytes = 1ull << 30;

class TreeVerifier {
 public:
  TreeVerifier(fs::path root, std::optional<PublicKey> key) : root_(std::move(root)), key_(key) {}

  std::size_t Run();

 private:
  void Problem(const std::string& text) {
    ReportError(text);
    ++problems_;
  }
  bool ReadVersionText(const std::string& name, int32_t* version);
  bool CheckContents(const std::string& what, const std::vector<uint8_t>& stored, const FileInfo& info);
  void CheckStoredFiles();
  void CheckChunkStore();
  void CheckChunkIndex(const std::u16string& fileName, const FileInfo& info);
  void CheckChangeLists();
  void CheckPackages();
  void CheckPackage(const PatchLine& line);
  void CheckReleaseManifest();
  void CheckProgramFiles(const std::string& part, int32_t patcherVersion);

  fs::path root_;
  std::optional<PublicKey> key_;
  std::size_t problems_ = 0;
  std::size_t chunkIndexes_ = 0;
  int32_t version_ = 0;
  std::map<std::u16string, FileInfo> fullList_;  // by exact name
  std::vector<uint8_t> stored_;
  std::vector<uint8_t> contents_;
  StoredFormReader reader_;
};

bool TreeVerifier::ReadVersionText(const std::string& name, int32_t* version) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadFileBytes(root_ / name, 64, &bytes, &why)) {
    Problem(name + ": " + why);
    return false;
  }
  // The updater reads one "%d" and ignores what follows; a line end is common.
  while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r' || bytes.back() == ' ')) bytes.pop_back();
  int64_t number = 0;
  if (!ParseNumber(std::u16string(bytes.begin(), bytes.end()), 0, INT32_MAX, &number, &why)) {
    Problem(name + ": " + why);
    return false;
  }
  *version = static_cast<int32_t>(number);
  return true;
}

bool TreeVerifier::CheckContents(const std::string& what, const std::vector<uint8_t>& stored, const FileInfo& info) {
  std::string why;
  if (stored.size() != info.storedSize) {
    Problem(what + ": " + std::to_string(stored.size()) + " stored bytes, listed as " +
            std::to_string(info.storedSize));
    return false;
  }
  if (!reader_.Contents(stored, info.size, &contents_, &why)) {
    Problem(what + ": " + why);
    return false;
  }
  platform::Md5Digest digest{};
  if (!platform::ComputeMd5(contents_.data(), contents_.size(), &digest) || digest != info.digest) {
    Problem(what + ": the contents do not have the listed MD5");
    return false;
  }
  return true;
}

void TreeVerifier::CheckStoredFiles() {
  std::vector<uint8_t> bytes;
  std::vector<ListEntry> entries;
  std::string why;
  int32_t listed = 0;
  if (!ReadFileBytes(root_ / "fulllist", kMaxListBytes, &bytes, &why) ||
      !DecodeFullList(bytes, &listed, &entries, &why)) {
    Problem("fulllist: " + why);
    return;
  }
  if (listed != version_)
    Problem("fulllist is for version " + std::to_string(listed) + ", the server announces " + std::to_string(version_));
  Manifest manifest;
  if (!LoadManifest(root_, version_, &manifest, &why)) Problem(why);
  if (manifest.files.size() != entries.size())
    Problem("fulllist has " + std::to_string(entries.size()) + " files, the manifest of release " +
            std::to_string(version_) + " " + std::to_string(manifest.files.size()));
  for (const ListEntry& entry : entries) {
    const std::string what = "files\\" + Utf8(entry.name);
    if (entry.info.size == kDeleteSize) {
      Problem("fulllist: deletion entry " + Utf8(entry.name));
      continue;
    }
    fullList_[entry.name] = entry.info;
    fs::path path;
    if (!ResourcePath(root_ / "files", entry.name, &path, &why) || !ReadFileBytes(path, kDeleteSize, &stored_, &why)) {
      Problem(what + ": " + why);
      continue;
    }
    CheckContents(what, stored_, entry.info);
  }
}

void TreeVerifier::CheckChunkIndex(const std::u16string& fileName, const FileInfo& info) {
  const std::string name = ChunkIndexResource(info.digest);
  const std::string what = name + " (of files\\" + Utf8(fileName) + ")";
  const fs::path path = ChunkStorePath(root_, name);
  std::error_code error;
  // Optional: a file published before chunks were has none, and the updater downloads it whole.
  if (!fs::exists(path, error)) return;
  ++chunkIndexes_;
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadFileBytes(path, kMaxChunkIndexSize, &bytes, &why)) {
    Problem(what + ": " + why);
    return;
  }
  const std::optional<ChunkIndex> index =
      ParseChunkIndex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!index) {
    Problem(what + " is no chunk index");
    return;
  }
  if (index->size != info.size || index->md5 != info.digest) {
    Problem(what + " is the index of other contents");
    return;
  }
  platform::Md5 md5;
  for (const IndexedChunk& chunk : index->chunks) {
    const std::string chunkName = ChunkResource(chunk.digest);
    if (!ReadFileBytes(ChunkStorePath(root_, chunkName), chunk.storedLength, &stored_, &why)) {
      Problem(what + ": " + chunkName + ": " + why);
      return;
    }
    if (stored_.size() != chunk.storedLength) {
      Problem(what + ": " + chunkName + " has " + std::to_string(stored_.size()) + " stored bytes, indexed as " +
              std::to_string(chunk.storedLength));
      return;
    }
    if (!reader_.Contents(stored_, chunk.length, &contents_, &why) ||
        DigestOfChunk(contents_.data(), contents_.size()) != chunk.digest) {
      Problem(what + ": " + chunkName + " is damaged" + (why.empty() ? "" : ": " + why));
      return;
    }
    md5.Update(contents_.data(), contents_.size());
  }
  platform::Md5Digest digest{};
  if (!md5.Finish(&digest) || digest != info.digest) Problem(what + ": its chunks do not make the listed contents");
}

void TreeVerifier::CheckChunkStore() {
  for (const auto& [name, info] : fullList_)
    if (info.size > kChunkedFileSize) CheckChunkIndex(name, info);
}

void TreeVerifier::CheckChangeLists() {
  const std::vector<int32_t> releases = PublishedReleases(root_);
  const int32_t oldest = releases.empty() ? version_ : releases.front();
  for (int64_t n = 1; n <= int64_t{version_} - oldest; ++n) {
    const std::string name = "list_" + std::to_string(n);
    std::vector<uint8_t> bytes;
    std::vector<ListEntry> entries;
    std::string why;
    if (!ReadFileBytes(root_ / name, kMaxListBytes, &bytes, &why) ||
        !DecodeList(bytes.data(), bytes.size(), &entries, &why)) {
      Problem(name + ": " + why);
      continue;
    }
    std::set<std::u16string> identities;
    for (const auto& [fileName, info] : fullList_) identities.insert(IdentityOf(fileName));
    for (const ListEntry& entry : entries) {
      if (entry.info.size == kDeleteSize) {
        // The updater would delete a file of the release it is brought to.
        if (identities.count(IdentityOf(entry.name)) != 0)
          Problem(name + ": deletes " + Utf8(entry.name) + ", which the release holds");
        continue;
      }
      const auto found = fullList_.find(entry.name);
      if (found == fullList_.end() || found->second.digest != entry.info.digest ||
          found->second.size != entry.info.size || found->second.storedSize != entry.info.storedSize)
        Problem(name + ": " + Utf8(entry.name) + " is not listed the same way in fulllist");
    }
  }
}

void TreeVerifier::CheckPackage(const PatchLine& line) {
  const std::string fileName = PackageFileName(line.url);
  const std::string what = "package " + fileName;
  fs::path path;
  std::string why;
  if (!ResourcePath(root_ / "patches", std::u16string(fileName.begin(), fileName.end()), &path, &why)) {
    Problem(what + " (" + line.url + "): " + why);
    return;
  }
  PackageReader package;
  PackageHeader header;
  std::vector<PackageRecord> records;
  if (!package.Open(path, &header, &records, &why)) {
    Problem(what + ": " + why);
    return;
  }
  if (header.minimumVersion != line.from || header.targetVersion != line.to)
    Problem(what + ": goes from " + std::to_string(header.minimumVersion) + " to " +
            std::to_string(header.targetVersion) + ", patches\\list says " + std::to_string(line.from) + " to " +
            std::to_string(line.to));
  // Its records must be exactly the changes between the two releases.
  Manifest from, to;
  std::map<std::u16string, FileInfo> expected;
  const bool compared = LoadManifest(root_, line.from, &from, &why) && LoadManifest(root_, line.to, &to, &why);
  if (compared) {
    for (const ListEntry& change : ChangesBetween(from, to)) expected[change.name] = change.info;
  } else {
    Problem(what + ": " + why);
  }
  for (const PackageRecord& record : records) {
    const std::string recordName = what + ": " + Utf8(record.name);
    if (compared) {
      const auto wanted = expected.find(record.name);
      if (wanted == expected.end()) {
        Problem(recordName + " is no change between these releases");
      } else {
        if (wanted->second.size != record.size || wanted->second.digest != record.digest)
          Problem(recordName + " is not the file of release " + std::to_string(line.to));
        expected.erase(wanted);
      }
    }
    if (record.size == kDeleteSize) continue;
    if (!package.ReadStored(record, &stored_, &why)) {
      Problem(recordName + ": " + why);
      continue;
    }
    CheckContents(recordName, stored_, FileInfo{record.digest, record.size, record.storedSize});
  }
  for (const auto& [name, info] : expected) Problem(what + ": misses the change of " + Utf8(name));
}

void TreeVerifier::CheckPackages() {
  std::error_code error;
  const fs::path listPath = root_ / "patches" / "list";
  if (!fs::exists(listPath, error)) return;
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadFileBytes(listPath, 1 << 24, &bytes, &why)) {
    Problem("patches\\list: " + why);
    return;
  }
  const std::vector<PatchLine> lines = ParsePatchList(std::string(bytes.begin(), bytes.end()));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const PatchLine& line = lines[i];
    if (!PatchLineCanHelp(lines, i, version_)) {
      const std::string text = std::to_string(line.from) + " " + std::to_string(line.to) + " " + line.url;
      Problem("patches\\list: no client would ever be given the line " + text +
              (line.to <= line.from ? " (it leads to no later version)" : " (another line serves every such client)"));
    }
    CheckPackage(line);
  }
}

// A signed manifest expiring this soon is worth a warning: clients refuse it once it has.
constexpr int64_t kExpiryWarningSeconds = 7 * 24 * 60 * 60;

std::string DateText(int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  const std::tm* utc = std::gmtime(&time);
  if (utc == nullptr) return std::to_string(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", utc);
  return text;
}

void TreeVerifier::CheckReleaseManifest() {
  std::error_code error;
  if (!fs::exists(root_ / kManifestResource, error)) {
    if (key_)
      Problem(std::string(kManifestResource) + " is missing: the updater with a key refuses this tree (publish sign)");
    return;
  }
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadFileBytes(root_ / kManifestResource, kMaxManifestSize, &bytes, &why)) {
    Problem(std::string(kManifestResource) + ": " + why);
    return;
  }
  const std::string text(bytes.begin(), bytes.end());
  const std::optional<ReleaseManifest> manifest = ParseReleaseManifest(text);
  if (!manifest) {
    Problem(std::string(kManifestResource) + " is malformed");
    return;
  }
  if (manifest->release != version_)
    Problem(std::string(kManifestResource) + " is of release " + std::to_string(manifest->release) +
            ", the server announces " + std::to_string(version_));
  ReleaseManifest actual;
  if (!ComputeReleaseManifest(root_, version_, manifest->expires, &actual, &why)) {
    Problem(std::string(kManifestResource) + ": " + why);
  } else {
    for (const ManifestResource& resource : actual.resources) {
      const ManifestResource* listed = manifest->Find(resource.name);
      if (listed == nullptr)
        Problem(std::string(kManifestResource) + " does not list " + resource.name);
      else if (listed->length != resource.length || listed->digest != resource.digest)
        Problem(resource.name + " does not match " + kManifestResource + " (changed after it was written)");
    }
    for (const ManifestResource& resource : manifest->resources)
      if (actual.Find(resource.name) == nullptr)
        Problem(std::string(kManifestResource) + " lists " + resource.name + ", which the tree does not hold");
  }
  if (!key_) return;
  std::vector<uint8_t> signature;
  if (!ReadFileBytes(root_ / kManifestSignatureResource, 1024, &signature, &why)) {
    Problem(std::string(kManifestSignatureResource) + ": " + why + " (the tree is not signed: publish sign)");
    return;
  }
  if (!SignatureMatches(std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size()), text,
                        *key_)) {
    Problem(std::string(kManifestSignatureResource) + " is no signature of " + kManifestResource + " by that key");
    return;
  }
  const int64_t now = NowSeconds();
  if (manifest->expires <= now)
    Problem(std::string(kManifestResource) + " expired on " + DateText(manifest->expires) +
            ": sign it again (publish sign)");
  else if (manifest->expires - now <= kExpiryWarningSeconds)
    ReportWarning(std::string(kManifestResource) + " expires on " + DateText(manifest->expires) +
                  ": sign it again before then (publish sign)");
  JsonField("signedUntil", JsonString(DateText(manifest->expires)));
}

void TreeVerifier::CheckProgramFiles(const std::string& part, int32_t patcherVersion) {
  std::error_code error;
  const fs::path listPath = root_ / part / "list";
  if (!fs::exists(listPath, error)) return;
  std::vector<uint8_t> bytes;
  std::vector<ListEntry> entries;
  std::string why;
  int32_t listed = 0;
  if (!ReadFileBytes(listPath, kMaxListBytes, &bytes, &why) || !DecodeFullList(bytes, &listed, &entries, &why)) {
    Problem(part + "\\list: " + why);
    return;
  }
  if (listed != patcherVersion)
    Problem(part + "\\list is for updater version " + std::to_string(listed) + ", patcher_version_new says " +
            std::to_string(patcherVersion));
  for (const ListEntry& entry : entries) {
    const std::string what = part + "\\files\\" + Utf8(entry.name);
    fs::path path;
    if (!ResourcePath(root_ / part / "files", entry.name, &path, &why) ||
        !ReadFileBytes(path, kDeleteSize, &stored_, &why)) {
      Problem(what + ": " + why);
      continue;
    }
    CheckContents(what, stored_, entry.info);
  }
}

std::size_t TreeVerifier::Run() {
  if (!ReadVersionText("version", &version_)) return problems_;
  CheckStoredFiles();
  CheckChunkStore();
  CheckChangeLists();
  CheckPackages();
  CheckReleaseManifest();
  std::error_code error;
  int32_t patcher = 0;
  if (fs::exists(root_ / "patcher_version_new", error)) ReadVersionText("patcher_version_new", &patcher);
  CheckProgramFiles(kPatcherPart, patcher);
  CheckProgramFiles(kLauncherPart, patcher);
  ReportLine("version " + std::to_string(version_) + ": " + std::to_string(fullList_.size()) + " files, " +
             std::to_string(chunkIndexes_) + " chunk indexes, " + std::to_string(problems_) + " problems");
  JsonField("chunkIndexes", std::to_string(chunkIndexes_));
  JsonField("version", std::to_string(version_));
  JsonField("files", std::to_string(fullList_.size()));
  JsonField("problems", std::to_string(problems_));
  return problems_;
}

}  // namespace

int RunVerify(const std::vector<std::u16string>& arguments) {
  ParsedArguments parsed;
  std::string why;
  if (!SplitArguments(arguments, {"key"}, {"json"}, &parsed, &why)) return BadUsage(why);
  if (parsed.flags.count("json") != 0) SetJsonOutput();
  if (parsed.positionals.size() != 1) return BadUsage("verify takes SERVER_DIR");
  std::optional<PublicKey> key;
  const auto& keys = parsed.options["key"];
  if (keys.size() > 1) return BadUsage("--key given more than once");
  if (!keys.empty()) {
    key = PublicKeyOfHex(Utf8(keys[0]));
    if (!key) return BadUsage("--key: not 64 hexadecimal digits (the public key publish keygen printed)");
  }
  const fs::path root(parsed.positionals[0]);
  JsonField("server", JsonString(PathText(root)));
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    ReportError(PathText(root) + " is not a folder");
    return kFailedExit;
  }
  // Without its version file nothing else of a tree can be judged: one line, not a cascade.
  if (!fs::exists(root / "version", error) && !fs::is_directory(root / "manifests", error)) {
    ReportError(PathText(root) + " is not a server tree: it has no version file (publish release makes one)");
    return kFailedExit;
  }
  TreeVerifier verifier{root, key};
  const std::size_t problems = verifier.Run();
  return problems == 0 ? 0 : kFailedExit;
}
