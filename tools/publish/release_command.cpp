// release: adds one release of a client folder to the server tree.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "archive/archive_names.h"
#include "arguments.h"
#include "base/decimal_text.h"
#include "chunk_store.h"
#include "client_folder.h"
#include "client_paths.h"
#include "commands.h"
#include "formats/chunk_index.h"
#include "formats/file_list.h"
#include "formats/patch_list.h"
#include "manifest.h"
#include "package_url.h"
#include "package_writer.h"
#include "platform/file.h"
#include "program_files.h"
#include "release_files.h"
#include "release_signing.h"
#include "report.h"
#include "tree_files.h"
#include "tree_lock.h"

namespace fs = std::filesystem;

namespace {

// More threads than this would only hold more files in memory at once.
constexpr int64_t kMaxJobs = 256;

struct ReleaseRequest {
  fs::path serverRoot;
  fs::path clientFolder;
  int32_t version = 0;
  std::vector<int32_t> packageFrom;
  std::string packageUrlBase;
  std::optional<int32_t> patcherVersion;
  // The updater's folder and the launcher program's, published under patcher\ and launcher\.
  fs::path patcherFiles;
  fs::path launcherFiles;
  bool dryRun = false;
  unsigned jobs = 1;
  // The operator's key, read before anything is written; none: an unsigned manifest.
  std::optional<SecretKey> key;
  int64_t expiryDays = kDefaultExpiryDays;
};

// Compression takes nearly all of a release's time: by default every core works on it.
unsigned DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : std::min(cores, static_cast<unsigned>(kMaxJobs));
}

// 0 when the request is complete, else the exit code already reported.
int ParseRequest(const std::vector<std::u16string>& arguments, ReleaseRequest* request) {
  ParsedArguments parsed;
  std::string why;
  if (!SplitArguments(arguments,
                      {"package-from", "package-url-base", "patcher-version", "jobs", "sign", "expires-in",
                       "patcher-files", "launcher-files"},
                      {"dry-run", "json"}, &parsed, &why))
    return BadUsage(why);
  if (parsed.flags.count("json") != 0) SetJsonOutput();
  request->dryRun = parsed.flags.count("dry-run") != 0;
  if (parsed.positionals.size() != 3)
    return BadUsage("release takes SERVER_DIR CLIENT_DIR VERSION, got " + std::to_string(parsed.positionals.size()) +
                    " argument(s)");
  int64_t number = 0;
  // The updater takes no release above kMaxVersion.
  if (!ParseNumber(parsed.positionals[2], 1, kMaxVersion, &number, &why)) return BadUsage("VERSION: " + why);
  request->version = static_cast<int32_t>(number);
  request->serverRoot = fs::path(parsed.positionals[0]);
  request->clientFolder = fs::path(parsed.positionals[1]);
  for (const std::u16string& text : parsed.options["package-from"]) {
    if (!ParseNumber(text, 1, request->version - 1, &number, &why)) return BadUsage("--package-from: " + why);
    request->packageFrom.push_back(static_cast<int32_t>(number));
  }
  std::sort(request->packageFrom.begin(), request->packageFrom.end());
  request->packageFrom.erase(std::unique(request->packageFrom.begin(), request->packageFrom.end()),
                             request->packageFrom.end());
  const auto& urlBase = parsed.options["package-url-base"];
  if (urlBase.size() > 1) return BadUsage("--package-url-base given more than once");
  if (!urlBase.empty()) request->packageUrlBase = Utf8(urlBase[0]);
  if (!request->packageFrom.empty() && request->packageUrlBase.empty())
    return BadUsage("--package-from needs --package-url-base (the URL the updater downloads packages from)");
  const auto& patcher = parsed.options["patcher-version"];
  if (patcher.size() > 1) return BadUsage("--patcher-version given more than once");
  if (!patcher.empty()) {
    if (!ParseNumber(patcher[0], 0, INT32_MAX, &number, &why)) return BadUsage("--patcher-version: " + why);
    request->patcherVersion = static_cast<int32_t>(number);
  }
  for (const auto& [option, folder] :
       {std::pair{"patcher-files", &request->patcherFiles}, std::pair{"launcher-files", &request->launcherFiles}}) {
    const auto& given = parsed.options[option];
    if (given.size() > 1) return BadUsage(std::string("--") + option + " given more than once");
    if (given.empty()) continue;
    if (!request->patcherVersion)
      return BadUsage(std::string("--") + option + " needs --patcher-version (the updater version the files make up)");
    *folder = fs::path(given[0]);
  }
  const auto& jobs = parsed.options["jobs"];
  if (jobs.size() > 1) return BadUsage("--jobs given more than once");
  request->jobs = DefaultJobs();
  if (!jobs.empty()) {
    if (!ParseNumber(jobs[0], 1, kMaxJobs, &number, &why)) return BadUsage("--jobs: " + why);
    request->jobs = static_cast<unsigned>(number);
  }
  if (!request->packageFrom.empty()) {
    std::string url;
    if (!PackageUrl(request->packageUrlBase, "0-0.cup", &url, &why)) return BadUsage("--package-url-base: " + why);
  }
  if (const int usage = ParseSigning(parsed, &request->key, &request->expiryDays); usage != 0) return usage;
  return 0;
}

// A client root (velkar, config, patcher) given for its data folder: no archive of its own,
// the data folder below it. Said in one line, instead of fifteen missing archives.
bool IsClientRoot(const fs::path& folder) {
  std::error_code error;
  if (!fs::is_directory(folder / "velkar", error)) return false;
  for (fs::directory_iterator item(folder, error), end; !error && item != end; item.increment(error))
    if (item->path().extension() == ".pck") return false;
  return true;
}

bool Within(const fs::path& inner, const fs::path& outer) {
  const auto mismatch = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return mismatch.first == outer.end();
}

// The server folder is new, empty or a tree publish made, and apart from the client
// folder: nothing of the client is ever written into, and no lock file is left in it.
bool CheckServerFolder(const ReleaseRequest& request) {
  std::error_code error;
  const fs::path server = fs::weakly_canonical(request.serverRoot, error);
  const fs::path client = fs::weakly_canonical(request.clientFolder, error);
  if (!error && (Within(server, client) || Within(client, server))) {
    ReportError("the server folder " + PathText(request.serverRoot) + " and the client folder " +
                PathText(request.clientFolder) + " lie one inside the other");
    return false;
  }
  if (!fs::exists(request.serverRoot, error)) return true;
  if (!fs::is_directory(request.serverRoot, error)) {
    ReportError(PathText(request.serverRoot) + " is not a folder");
    return false;
  }
  if (fs::exists(request.serverRoot / "version", error) || fs::is_directory(request.serverRoot / "manifests", error) ||
      fs::exists(request.serverRoot / kLockName, error) || fs::is_empty(request.serverRoot, error))
    return true;
  bool holdsArchives = false;
  for (fs::directory_iterator item(request.serverRoot, error), end; !error && item != end; item.increment(error)) {
    const fs::path extension = item->path().extension();
    holdsArchives = holdsArchives || extension == ".pck" || extension == ".pkx";
  }
  ReportError(PathText(request.serverRoot) + " is not empty and no server tree (it has no version file)" +
              (holdsArchives ? "; it holds client archives: are SERVER_DIR and CLIENT_DIR swapped?"
                             : "; give a new or empty folder, or the tree of the earlier releases"));
  return false;
}

// The updater reads the client version as the lowest of the version file and every
// archive's version entry: a client built from this folder must read the release.
void WarnAboutVersions(const ClientFolder& client, const ReleaseRequest& request) {
  // Archives by the value their entry holds, when it is not the release.
  std::map<int32_t, std::vector<std::string>> differing;
  int32_t lowest = request.version;
  for (const ArchiveVersion& version : client.versions()) {
    const std::string archive = Utf8(kArchiveNames[version.archive]) + ".pck";
    if (!version.present) {
      ReportWarning(archive + " has no version.sw entry: the updater takes a client with these files for version 0");
      lowest = 0;
      continue;
    }
    const int32_t value = version.text.empty() ? 0 : ScanDecimal(version.text.data(), version.text.size());
    if (value != request.version) differing[value].push_back(archive);
    lowest = std::min(lowest, value);
  }
  std::vector<std::string> says;
  for (const auto& [value, archives] : differing) {
    std::string text;
    if (archives.size() == kArchiveNames.size()) {
      text = "every archive's version.sw";
    } else {
      for (const std::string& archive : archives) text += (text.empty() ? "" : ", ") + archive;
    }
    const bool one = archives.size() == 1 || archives.size() == kArchiveNames.size();
    says.push_back(text + (one ? " says " : " say ") + std::to_string(value));
  }
  const fs::path versionFile = request.clientFolder.parent_path() / "config" / "velkar" / "version.sw";
  std::vector<uint8_t> bytes;
  std::string why;
  std::error_code error;
  if (fs::exists(versionFile, error) && ReadFileBytes(versionFile, 64, &bytes, &why)) {
    const int32_t value = ScanDecimal(bytes.data(), bytes.size());
    if (value != request.version) says.push_back(PathText(versionFile) + " says " + std::to_string(value));
    lowest = std::min(lowest, value);
  }
  if (says.empty()) return;
  std::string text = "the version files disagree with release " + std::to_string(request.version) + ":";
  for (std::size_t i = 0; i < says.size(); ++i) text += (i == 0 ? " " : "; ") + says[i];
  text += "; the updater reads the lowest, " + std::to_string(lowest) + ", as the client's version";
  if (lowest == 0) text += ", so such a client updates from 0 with a full check";
  ReportWarning(text);
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string Files(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

// What the release adds, changes and deletes, per archive and among the plain files.
struct ChangeCounts {
  uint64_t files = 0, added = 0, changed = 0, deleted = 0;
};

ChangeCounts ReportChanges(const Manifest& previous, const Manifest& current, bool listEveryFile) {
  // Index kArchiveNames.size() stands for the plain files.
  const std::size_t plain = kArchiveNames.size();
  std::vector<ChangeCounts> groups(plain + 1);
  std::vector<std::vector<std::string>> lines(plain + 1);
  const auto groupOf = [&](const std::u16string& name) { return ArchiveOfPath(name).value_or(plain); };
  for (const auto& [identity, entry] : current.files) ++groups[groupOf(entry.name)].files;
  for (const ListEntry& change : ChangesBetween(previous, current)) {
    const std::size_t group = groupOf(change.name);
    char mark = '+';
    if (change.info.size == kDeleteSize) {
      mark = '-';
      ++groups[group].deleted;
    } else if (previous.files.count(IdentityOf(change.name)) != 0) {
      mark = '~';
      ++groups[group].changed;
    } else {
      ++groups[group].added;
    }
    lines[group].push_back(std::string("  ") + mark + " " + Utf8(change.name));
  }
  ChangeCounts total;
  for (std::size_t group = 0; group <= plain; ++group) {
    const ChangeCounts& counts = groups[group];
    total.files += counts.files;
    total.added += counts.added;
    total.changed += counts.changed;
    total.deleted += counts.deleted;
    // Only what changes: a release usually touches a few archives of the fifteen.
    if (counts.added + counts.changed + counts.deleted == 0) continue;
    ReportLine((group == plain ? std::string("plain files") : Utf8(kArchiveNames[group])) + ": " + Files(counts.files) +
               "; " + std::to_string(counts.added) + " added, " + std::to_string(counts.changed) + " changed, " +
               std::to_string(counts.deleted) + " deleted");
    if (listEveryFile)
      for (const std::string& line : lines[group]) ReportLine(line);
  }
  return total;
}

class ReleaseWriter {
 public:
  ReleaseWriter(const ReleaseRequest& request, const std::vector<int32_t>& releases)
      : request_(request), releases_(releases) {}

  bool Write(const Manifest& current, const Manifest& previous);
  // Once the new version is out: the packages of the lines the release dropped, and the
  // updater's stored files its lists no longer name.
  void RemoveDroppedPackages() const;
  void RemoveUnlistedProgramFiles() const;
  // What Write would write, reported without writing.
  bool Plan(const Manifest& current, const Manifest& previous);

 private:
  const Manifest* Release(int32_t version);
  bool WriteResource(const std::string& name, const std::vector<uint8_t>& bytes);
  bool WriteChangeLists(const Manifest& current);
  bool WritePackages(const Manifest& current);
  int64_t ListCount() const;
  void ReportPackage(const std::string& fileName, const std::string& url, std::size_t records, uint64_t bytes);

  const ReleaseRequest& request_;
  const std::vector<int32_t>& releases_;
  std::map<int32_t, Manifest> loaded_;
  std::vector<PatchLine> keptLines_;
  std::vector<PatchLine> droppedLines_;
  std::string packagesJson_;
  std::vector<ListEntry> patcherEntries_;
  std::vector<ListEntry> launcherEntries_;
};

void ReleaseWriter::RemoveUnlistedProgramFiles() const {
  if (!request_.patcherFiles.empty()) ::RemoveUnlistedProgramFiles(request_.serverRoot, kPatcherPart, patcherEntries_);
  if (!request_.launcherFiles.empty())
    ::RemoveUnlistedProgramFiles(request_.serverRoot, kLauncherPart, launcherEntries_);
}

const Manifest* ReleaseWriter::Release(int32_t version) {
  auto found = loaded_.find(version);
  if (found != loaded_.end()) return &found->second;
  Manifest manifest;
  std::string why;
  if (!LoadManifest(request_.serverRoot, version, &manifest, &why)) {
    ReportError(why);
    return nullptr;
  }
  return &(loaded_[version] = std::move(manifest));
}

bool ReleaseWriter::WriteResource(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string why;
  if (WriteFileAtomically(request_.serverRoot / name, bytes, &why)) return true;
  ReportError(why);
  return false;
}

int64_t ReleaseWriter::ListCount() const {
  const int32_t oldest = releases_.empty() ? request_.version : releases_.front();
  return int64_t{request_.version} - oldest;
}

void ReleaseWriter::ReportPackage(const std::string& fileName, const std::string& url, std::size_t records,
                                  uint64_t bytes) {
  ReportLine("package " + fileName + ": " + std::to_string(records) + " records, " + std::to_string(bytes) +
             " bytes, at " + url);
  if (!packagesJson_.empty()) packagesJson_ += ',';
  packagesJson_ += "{\"file\":" + JsonString(fileName) + ",\"url\":" + JsonString(url) +
                   ",\"records\":" + std::to_string(records) + ",\"bytes\":" + std::to_string(bytes) + "}";
}

bool ReleaseWriter::WriteChangeLists(const Manifest& current) {
  // Many N share a base release: a version that was never published lists from the
  // nearest older release, a superset the updater's digest check makes safe.
  std::map<int32_t, std::vector<uint8_t>> listOfBase;
  for (int64_t n = 1; n <= ListCount(); ++n) {
    const auto base = static_cast<int32_t>(request_.version - n);
    const int32_t release = *(std::upper_bound(releases_.begin(), releases_.end(), base) - 1);
    auto list = listOfBase.find(release);
    if (list == listOfBase.end()) {
      const Manifest* from = Release(release);
      if (from == nullptr) return false;
      list = listOfBase.emplace(release, EncodeList(ChangesBetween(*from, current))).first;
    }
    if (!WriteResource("list_" + std::to_string(n), list->second)) return false;
    ReportLine("list_" + std::to_string(n) + ": " + std::to_string(list->second.size()) +
               " bytes, changes since release " + std::to_string(release));
  }
  return true;
}

bool ReleaseWriter::WritePackages(const Manifest& current) {
  if (request_.packageFrom.empty()) return true;
  const fs::path listPath = request_.serverRoot / "patches" / "list";
  std::vector<uint8_t> existing;
  std::string why;
  std::error_code error;
  std::vector<PatchLine> lines;
  if (fs::exists(listPath, error)) {
    if (!ReadFileBytes(listPath, 1 << 24, &existing, &why)) {
      ReportError("patches/list: " + why);
      return false;
    }
    lines = ParsePatchList(std::string(existing.begin(), existing.end()));
  }
  for (int32_t from : request_.packageFrom) {
    const Manifest* base = Release(from);
    if (base == nullptr) return false;
    const std::string fileName = std::to_string(from) + "-" + std::to_string(request_.version) + ".cup";
    std::string url;
    uint64_t bytes = 0;
    const std::vector<ListEntry> changes = ChangesBetween(*base, current);
    if (!PackageUrl(request_.packageUrlBase, fileName, &url, &why) ||
        !WritePackage(request_.serverRoot / "patches" / fileName, from, request_.version, changes,
                      request_.serverRoot / "files", &bytes, &why)) {
      ReportError("package " + fileName + ": " + why);
      return false;
    }
    ReportPackage(fileName, url, changes.size(), bytes);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const PatchLine& line) { return line.from == from && line.to == request_.version; }),
                lines.end());
    lines.push_back({from, request_.version, url});
  }
  // A new package can make an older line one that no client would ever be given (a client
  // at 1 takes 1-3 rather than 1-2 once 1-3 exists): such lines and their packages go.
  std::vector<PatchLine> kept;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (PatchLineCanHelp(lines, i, request_.version)) {
      kept.push_back(lines[i]);
    } else {
      ReportLine("patches\\list: dropped " + std::to_string(lines[i].from) + " " + std::to_string(lines[i].to) + " " +
                 lines[i].url + ", no client would take it");
      droppedLines_.push_back(lines[i]);
    }
  }
  keptLines_ = kept;
  const std::string text = FormatPatchList(kept);
  return WriteResource("patches/list", std::vector<uint8_t>(text.begin(), text.end()));
}

void ReleaseWriter::RemoveDroppedPackages() const {
  for (const PatchLine& dropped : droppedLines_) {
    const std::string fileName = PackageFileName(dropped.url);
    const bool stillNamed = std::any_of(keptLines_.begin(), keptLines_.end(),
                                        [&](const PatchLine& line) { return PackageFileName(line.url) == fileName; });
    fs::path path;
    std::string why;
    std::error_code error;
    if (!stillNamed &&
        ResourcePath(request_.serverRoot / "patches", std::u16string(fileName.begin(), fileName.end()), &path, &why))
      fs::remove(path, error);
  }
}

bool ReleaseWriter::Write(const Manifest& current, const Manifest& previous) {
  loaded_[previous.version] = previous;
  JsonField("lists", std::to_string(ListCount()));
  std::string why;
  const std::vector<uint8_t> fullList = EncodeFullList(current.version, ManifestEntries(current));
  if (!WriteChangeLists(current) || !WriteResource("fulllist", fullList)) return false;
  ReportLine("fulllist: " + std::to_string(fullList.size()) + " bytes");
  if (!SaveManifest(request_.serverRoot, current, &why)) {
    ReportError(why);
    return false;
  }
  const bool packaged = WritePackages(current);
  JsonField("packages", "[" + packagesJson_ + "]");
  if (!packaged) return false;
  // The updater's own files before the version that asks for them.
  for (const auto& [part, folder, entries] : {std::tuple{kPatcherPart, &request_.patcherFiles, &patcherEntries_},
                                              std::tuple{kLauncherPart, &request_.launcherFiles, &launcherEntries_}}) {
    if (folder->empty()) continue;
    if (!PublishProgramFiles(*folder, request_.serverRoot, part, *request_.patcherVersion, entries, &why)) {
      ReportError(why);
      return false;
    }
    ReportLine(std::string(part) + "\\list: " + std::to_string(entries->size()) + " files of updater version " +
               std::to_string(*request_.patcherVersion));
  }
  if (request_.patcherVersion) {
    const std::string text = std::to_string(*request_.patcherVersion);
    if (!WriteResource("patcher_version_new", std::vector<uint8_t>(text.begin(), text.end()))) return false;
  }
  // Then the manifest of all of it, and last the version: a client that reads this version
  // finds every list and file of it in place.
  ReleaseManifest manifest;
  // An unsigned manifest never expires: nothing vouches for it anyway.
  const int64_t expires = request_.key ? ExpiryInDays(request_.expiryDays) : 0;
  if (!ComputeReleaseManifest(request_.serverRoot, current.version, expires, &manifest, &why) ||
      !WriteReleaseManifest(request_.serverRoot, manifest, request_.key, &why)) {
    ReportError(why);
    return false;
  }
  ReportLine(std::string(request_.key ? "signed" : "unsigned") +
             " release manifest: " + std::to_string(manifest.resources.size()) + " resources");
  const std::string text = std::to_string(current.version);
  return WriteResource("version", std::vector<uint8_t>(text.begin(), text.end()));
}

bool ReleaseWriter::Plan(const Manifest& current, const Manifest& previous) {
  loaded_[previous.version] = previous;
  JsonField("lists", std::to_string(ListCount()));
  const std::string lists = ListCount() == 0   ? std::string()
                            : ListCount() == 1 ? std::string("list_1, ")
                                               : "list_1 to list_" + std::to_string(ListCount()) + ", ";
  ReportLine("would write " + lists + "fulllist and version " + std::to_string(request_.version));
  for (int32_t from : request_.packageFrom) {
    const Manifest* base = Release(from);
    if (base == nullptr) return false;
    const std::vector<ListEntry> changes = ChangesBetween(*base, current);
    const std::string fileName = std::to_string(from) + "-" + std::to_string(request_.version) + ".cup";
    std::string url;
    std::string why;
    if (!PackageUrl(request_.packageUrlBase, fileName, &url, &why)) {
      ReportError("package " + fileName + ": " + why);
      return false;
    }
    ReportPackage(fileName, url, changes.size(), PackageSize(changes));
  }
  JsonField("packages", "[" + packagesJson_ + "]");
  return true;
}

// Stored files of files the new release no longer has; no list of it names them.
void RemoveDeletedFiles(const Manifest& previous, const Manifest& current, const fs::path& storedRoot) {
  for (const auto& [identity, entry] : previous.files) {
    if (current.files.count(identity) != 0) continue;
    fs::path resource;
    std::string why;
    std::error_code error;
    if (ResourcePath(storedRoot, entry.name, &resource, &why)) fs::remove(resource, error);
  }
}

// Chunks and indexes of contents neither this release nor the one before holds. The one before
// keeps its own: a client that read its lists just before this version came can still finish.
void RemoveUnreferencedChunks(const Manifest& previous, const Manifest& current, const fs::path& serverRoot) {
  std::set<platform::Md5Digest> kept;
  for (const Manifest* release : {&previous, &current})
    for (const auto& [identity, entry] : release->files)
      if (entry.info.size > kChunkedFileSize) kept.insert(entry.info.digest);
  ChunkStoreCounts removed;
  std::string why;
  if (!PruneChunkStore(serverRoot, kept, &removed, &why)) {
    ReportWarning("chunks no release refers to are kept: " + why);
    return;
  }
  if (removed.indexes + removed.chunks > 0)
    ReportLine("chunks no release refers to any more: " + std::to_string(removed.indexes) + " indexes and " +
               std::to_string(removed.chunks) + " chunks removed");
}

// The server folder, made for a publish, and its lock (see tree_lock.h).
bool TakeLock(const ReleaseRequest& request, platform::File* lock) {
  if (!request.dryRun) {
    std::error_code error;
    fs::create_directories(request.serverRoot, error);
    if (!fs::is_directory(request.serverRoot, error)) {
      ReportError("cannot create the server folder " + PathText(request.serverRoot));
      return false;
    }
  }
  return LockTree(request.serverRoot, request.dryRun, lock);
}

}  // namespace

int RunRelease(const std::vector<std::u16string>& arguments) {
  ReleaseRequest request;
  if (const int usage = ParseRequest(arguments, &request); usage != 0) return usage;
  JsonField("release", std::to_string(request.version));
  JsonField("dryRun", request.dryRun ? "true" : "false");
  JsonField("server", JsonString(PathText(request.serverRoot)));
  JsonField("client", JsonString(PathText(request.clientFolder)));
  std::error_code error;
  if (!fs::is_directory(request.clientFolder, error)) {
    ReportError(PathText(request.clientFolder) + " is not a folder");
    return kFailedExit;
  }
  if (IsClientRoot(request.clientFolder)) {
    ReportError(PathText(request.clientFolder) + " is a client root, not its data folder: give " +
                PathText(request.clientFolder / "velkar") + ", the folder that holds the archives");
    return kFailedExit;
  }
  // Everything is checked before the first write.
  if (!CheckServerFolder(request)) return kFailedExit;
  for (const fs::path* folder : {&request.patcherFiles, &request.launcherFiles}) {
    std::vector<std::u16string> names;
    std::string why;
    if (!folder->empty() && !ProgramFiles(*folder, &names, &why)) {
      ReportError(why);
      return kFailedExit;
    }
  }
  ClientFolder client;
  std::vector<ClientFile> files;
  if (!client.Open(request.clientFolder, &files)) {
    ReportError("nothing published: the client folder has the problems above");
    return kFailedExit;
  }
  WarnAboutVersions(client, request);

  platform::File lock;
  if (!TakeLock(request, &lock)) return kFailedExit;
  const std::vector<int32_t> releases = PublishedReleases(request.serverRoot);
  if (!releases.empty() && request.version <= releases.back()) {
    ReportError("release " + std::to_string(releases.back()) + " is published; the next one must be above it");
    return kFailedExit;
  }
  for (int32_t from : request.packageFrom)
    if (!std::binary_search(releases.begin(), releases.end(), from)) {
      ReportError("--package-from " + std::to_string(from) + ": that release is not in the tree");
      return kFailedExit;
    }
  Manifest previous;
  std::string why;
  if (!releases.empty() && !LoadManifest(request.serverRoot, releases.back(), &previous, &why)) {
    ReportError(why);
    return kFailedExit;
  }

  if (request.dryRun) ReportLine("release " + std::to_string(request.version) + ", dry run: nothing is written");
  Manifest current;
  current.version = request.version;
  ReleaseTotals totals;
  const fs::path storedRoot = request.serverRoot / "files";
  ChunkStore chunks(request.serverRoot);
  if (!StoreClientFiles(files, &client, previous, storedRoot, request.dryRun ? nullptr : &chunks, request.jobs,
                        &current, &totals)) {
    ReportError("release " + std::to_string(request.version) +
                " not published; files written so far belong to it, run the release again");
    return kFailedExit;
  }
  const ChangeCounts changes = ReportChanges(previous, current, request.dryRun);
  if (!releases.empty() && changes.added + changes.changed + changes.deleted == 0)
    ReportWarning("release " + std::to_string(request.version) + " changes nothing since release " +
                  std::to_string(releases.back()));
  JsonField("files", std::to_string(totals.files));
  JsonField("bytes", std::to_string(totals.bytes));
  JsonField("storedBytes", std::to_string(totals.storedBytes));
  JsonField("storedFilesWritten", std::to_string(request.dryRun ? 0 : totals.written));
  JsonField("added", std::to_string(changes.added));
  JsonField("changed", std::to_string(changes.changed));
  JsonField("deleted", std::to_string(changes.deleted));
  ReportLine("release " + std::to_string(request.version) + ": " + Files(totals.files) + ", " +
             Megabytes(totals.bytes) + ", stored " + Megabytes(totals.storedBytes) + "; " +
             std::to_string(totals.written) + " stored files " + (request.dryRun ? "to write" : "written"));
  if (chunks.indexesWritten() > 0)
    ReportLine("chunks of large files: " + std::to_string(chunks.indexesWritten()) + " indexes and " +
               std::to_string(chunks.chunksWritten()) + " chunks written, " + Megabytes(chunks.chunkBytesWritten()));
  ReleaseWriter writer(request, releases);
  if (request.dryRun) return writer.Plan(current, previous) ? 0 : kFailedExit;
  if (!writer.Write(current, previous)) {
    ReportError("release " + std::to_string(request.version) + " not published");
    return kFailedExit;
  }
  RemoveDeletedFiles(previous, current, storedRoot);
  RemoveUnreferencedChunks(previous, current, request.serverRoot);
  writer.RemoveDroppedPackages();
  writer.RemoveUnlistedProgramFiles();
  ReportLine("version " + std::to_string(request.version) + " published in " + PathText(request.serverRoot));
  return 0;
}
