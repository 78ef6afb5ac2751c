// release: adds one release of a client folder to the server tree.

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <system_error>

#include "archive/archive_names.h"
#include "arguments.h"
#include "client_folder.h"
#include "client_paths.h"
#include "commands.h"
#include "file_list.h"
#include "manifest.h"
#include "package_writer.h"
#include "patch_list.h"
#include "platform/file.h"
#include "report.h"
#include "stored_form.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

struct ReleaseRequest {
  fs::path serverRoot;
  fs::path clientFolder;
  int32_t version = 0;
  std::vector<int32_t> packageFrom;
  std::string packageUrlBase;
  std::optional<int32_t> patcherVersion;
};

// 0 when the request is complete, else the exit code already reported.
int ParseRequest(const std::vector<std::u16string>& arguments, ReleaseRequest* request) {
  ParsedArguments parsed;
  std::string why;
  if (!SplitArguments(arguments, {"package-from", "package-url-base", "patcher-version"}, &parsed, &why))
    return BadUsage(why);
  if (parsed.positionals.size() != 3)
    return BadUsage("release takes SERVER_DIR CLIENT_DIR VERSION, got " + std::to_string(parsed.positionals.size()) +
                    " argument(s)");
  int64_t number = 0;
  if (!ParseNumber(parsed.positionals[2], 1, INT32_MAX, &number, &why)) return BadUsage("VERSION: " + why);
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
  if (!request->packageFrom.empty()) {
    std::string url;
    if (!PackageUrl(request->packageUrlBase, "0-0.cup", &url, &why)) return BadUsage("--package-url-base: " + why);
  }
  return 0;
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

struct Totals {
  uint64_t files = 0, bytes = 0, storedBytes = 0, written = 0;
};

// Reads, hashes and stores every file; a stored file is rewritten only when the file
// differs from the newest release.
bool StoreClientFiles(const std::vector<ClientFile>& files, ClientFolder* client, const Manifest& previous,
                      const fs::path& storedRoot, Manifest* current, Totals* totals) {
  StoredFormMaker maker;
  std::vector<uint8_t> contents;
  std::string why;
  int group = -2;
  uint64_t groupFiles = 0;
  auto reportGroup = [&] {
    if (group == -2) return;
    const std::string name = group < 0 ? "plain files" : Utf8(kArchiveNames[static_cast<std::size_t>(group)]);
    ReportError(name + ": " + std::to_string(groupFiles) + " files");
  };
  for (const ClientFile& file : files) {
    if (file.archive != group) {
      reportGroup();
      group = file.archive;
      groupFiles = 0;
    }
    ++groupFiles;
    if (!client->Read(file, &contents, &why)) {
      ReportError("cannot read " + Utf8(file.name) + ": " + why);
      return false;
    }
    ListEntry entry{file.name, {}};
    entry.info.size = static_cast<uint32_t>(contents.size());
    if (!platform::ComputeMd5(contents.data(), contents.size(), &entry.info.digest)) {
      ReportError("cannot compute the MD5 of " + Utf8(file.name));
      return false;
    }
    fs::path resource;
    if (!ResourcePath(storedRoot, file.name, &resource, &why)) {
      ReportError(Utf8(file.name) + ": " + why);
      return false;
    }
    const auto old = previous.files.find(IdentityOf(file.name));
    std::error_code error;
    if (old != previous.files.end() && old->second.name == file.name && old->second.info.digest == entry.info.digest &&
        old->second.info.size == entry.info.size && fs::file_size(resource, error) == old->second.info.storedSize &&
        !error) {
      entry.info.storedSize = old->second.info.storedSize;
    } else {
      if (old != previous.files.end() && old->second.name != file.name) {
        // Only the letter case changed: on a case-blind disk the old file is this one.
        fs::path oldResource;
        if (ResourcePath(storedRoot, old->second.name, &oldResource, &why)) fs::remove(oldResource, error);
      }
      const std::vector<uint8_t>* stored = nullptr;
      if (!maker.Make(contents, &stored)) {
        ReportError("cannot compress " + Utf8(file.name));
        return false;
      }
      entry.info.storedSize = static_cast<uint32_t>(stored->size());
      if (!WriteFileAtomically(resource, *stored, &why)) {
        ReportError(why);
        return false;
      }
      ++totals->written;
    }
    ++totals->files;
    totals->bytes += entry.info.size;
    totals->storedBytes += entry.info.storedSize;
    AddToManifest(entry, current);
  }
  reportGroup();
  return true;
}

class ReleaseWriter {
 public:
  ReleaseWriter(const ReleaseRequest& request, const std::vector<int32_t>& releases)
      : request_(request), releases_(releases) {}

  bool Write(const Manifest& current, const Manifest& previous);
  // Once the new version is out: the packages of the lines the release dropped.
  void RemoveDroppedPackages() const;

 private:
  const Manifest* Release(int32_t version);
  bool WriteResource(const std::string& name, const std::vector<uint8_t>& bytes);
  bool WriteChangeLists(const Manifest& current);
  bool WritePackages(const Manifest& current);

  const ReleaseRequest& request_;
  const std::vector<int32_t>& releases_;
  std::map<int32_t, Manifest> loaded_;
  std::vector<PatchLine> keptLines_;
  std::vector<PatchLine> droppedLines_;
};

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

bool ReleaseWriter::WriteChangeLists(const Manifest& current) {
  const int32_t oldest = releases_.empty() ? request_.version : releases_.front();
  // Many N share a base release: a version that was never published lists from the
  // nearest older release, a superset the updater's digest check makes safe.
  std::map<int32_t, std::vector<uint8_t>> listOfBase;
  for (int64_t n = 1; n <= int64_t{request_.version} - oldest; ++n) {
    const auto base = static_cast<int32_t>(request_.version - n);
    const int32_t release = *(std::upper_bound(releases_.begin(), releases_.end(), base) - 1);
    auto list = listOfBase.find(release);
    if (list == listOfBase.end()) {
      const Manifest* from = Release(release);
      if (from == nullptr) return false;
      list = listOfBase.emplace(release, EncodeList(ChangesBetween(*from, current))).first;
    }
    if (!WriteResource("list_" + std::to_string(n), list->second)) return false;
    std::printf("list_%lld: %zu bytes, changes since release %d\n", static_cast<long long>(n), list->second.size(),
                static_cast<int>(release));
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
    std::printf("package %s: %zu records, %llu bytes\n", fileName.c_str(), changes.size(),
                static_cast<unsigned long long>(bytes));
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const PatchLine& line) { return line.from == from && line.to == request_.version; }),
                lines.end());
    lines.push_back({from, request_.version, url});
  }
  // A new package can make an older line one that no client would ever be given (a client
  // at 1 takes 1-3 rather than 1-2 once 1-3 exists): such lines and their packages go.
  std::vector<PatchLine> kept;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (LineCanHelpAClient(lines, i, request_.version)) {
      kept.push_back(lines[i]);
    } else {
      std::printf("patches\\list: dropped %d %d %s, no client would take it\n", static_cast<int>(lines[i].from),
                  static_cast<int>(lines[i].to), lines[i].url.c_str());
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
  std::string why;
  const std::vector<uint8_t> fullList = EncodeFullList(current.version, ManifestEntries(current));
  if (!WriteChangeLists(current) || !WriteResource("fulllist", fullList)) return false;
  std::printf("fulllist: %zu bytes\n", fullList.size());
  if (!SaveManifest(request_.serverRoot, current, &why)) {
    ReportError(why);
    return false;
  }
  if (!WritePackages(current)) return false;
  if (request_.patcherVersion) {
    const std::string text = std::to_string(*request_.patcherVersion);
    if (!WriteResource("patcher_version_new", std::vector<uint8_t>(text.begin(), text.end()))) return false;
  }
  // Last: a client that reads this version finds every list and file of it in place.
  const std::string text = std::to_string(current.version);
  return WriteResource("version", std::vector<uint8_t>(text.begin(), text.end()));
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

}  // namespace

int RunRelease(const std::vector<std::u16string>& arguments) {
  ReleaseRequest request;
  if (const int usage = ParseRequest(arguments, &request); usage != 0) return usage;
  std::error_code error;
  if (!fs::is_directory(request.clientFolder, error)) {
    ReportError(PathText(request.clientFolder) + " is not a folder");
    return kFailedExit;
  }
  fs::create_directories(request.serverRoot, error);
  if (!fs::is_directory(request.serverRoot, error)) {
    ReportError("cannot create the server folder " + PathText(request.serverRoot));
    return kFailedExit;
  }
  // Two publishes into one tree would mix their files.
  platform::File lock;
  if (lock.Open((request.serverRoot / ".publish-lock").u16string(), platform::FileMode::kCreate) != 0) {
    ReportError("another publish is working on " + PathText(request.serverRoot) + " (or it is not writable)");
    return kFailedExit;
  }
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

  ClientFolder client;
  std::vector<ClientFile> files;
  if (!client.Open(request.clientFolder, &files)) {
    ReportError("nothing published: the client folder has the problems above");
    return kFailedExit;
  }
  Manifest current;
  current.version = request.version;
  Totals totals;
  const fs::path storedRoot = request.serverRoot / "files";
  if (!StoreClientFiles(files, &client, previous, storedRoot, &current, &totals)) {
    ReportError("release " + std::to_string(request.version) +
                " not published; files written so far belong to it, run the release again");
    return kFailedExit;
  }
  std::printf("release %d: %llu files, %s, stored %s; %llu stored files written\n", static_cast<int>(request.version),
              static_cast<unsigned long long>(totals.files), Megabytes(totals.bytes).c_str(),
              Megabytes(totals.storedBytes).c_str(), static_cast<unsigned long long>(totals.written));
  ReleaseWriter writer(request, releases);
  if (!writer.Write(current, previous)) {
    ReportError("release " + std::to_string(request.version) + " not published");
    return kFailedExit;
  }
  RemoveDeletedFiles(previous, current, storedRoot);
  writer.RemoveDroppedPackages();
  std::printf("version %d published in %s\n", static_cast<int>(request.version), PathText(request.serverRoot).c_str());
  return std::fflush(stdout) == 0 ? 0 : kFailedExit;
}
