// sync: uploads a server tree to an rclone remote (object storage behind a CDN, another folder)
// in the order of sync_plan.h, one rclone run per step.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "platform/file.h"
#include "program_run.h"
#include "report.h"
#include "sync_plan.h"
#include "tree_files.h"
#include "tree_lock.h"

namespace fs = std::filesystem;

namespace {

struct SyncRequest {
  fs::path serverRoot;
  std::string remote;
  std::string rclone = "rclone";
  std::string rcloneConfig;
  bool dryRun = false;
};

int ParseRequest(const std::vector<std::u16string>& arguments, SyncRequest* request) {
  ParsedArguments parsed;
  std::string why;
  if (!SplitArguments(arguments, {"rclone", "rclone-config"}, {"dry-run"}, &parsed, &why)) return BadUsage(why);
  if (parsed.positionals.size() != 2) return BadUsage("sync takes SERVER_DIR REMOTE");
  request->serverRoot = fs::path(parsed.positionals[0]);
  request->remote = Utf8(parsed.positionals[1]);
  if (request->remote.empty()) return BadUsage("REMOTE is empty");
  for (const auto& [option, value] :
       {std::pair{"rclone", &request->rclone}, {"rclone-config", &request->rcloneConfig}}) {
    const auto& given = parsed.options[option];
    if (given.size() > 1) return BadUsage(std::string("--") + option + " given more than once");
    if (!given.empty()) *value = Utf8(given[0]);
    if (!given.empty() && value->empty()) return BadUsage(std::string("--") + option + " is empty");
  }
  request->dryRun = parsed.flags.count("dry-run") != 0;
  return 0;
}

// The step's object names, one a line, for rclone's --files-from-raw (no comments, no
// trimming: the names as they stand).
class ListFolder {
 public:
  ListFolder() {
    std::random_device random;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    for (int attempt = 0; !error && attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate = base / ("publish-sync-" + std::to_string(random()));
      if (fs::create_directory(candidate, error)) path_ = candidate;
    }
  }
  ~ListFolder() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
  }
  ListFolder(const ListFolder&) = delete;
  ListFolder& operator=(const ListFolder&) = delete;

  bool made() const { return !path_.empty(); }

  bool Write(const std::string& name, const std::vector<std::string>& objects, fs::path* file) const {
    *file = path_ / name;
    std::ofstream out(*file, std::ios::binary | std::ios::trunc);
    for (const std::string& object : objects) out << object << '\n';
    out.close();
    return static_cast<bool>(out);
  }

 private:
  fs::path path_;
};

std::vector<std::string> RcloneArguments(const SyncStep& step, const std::string& source, const SyncRequest& request,
                                         const std::string& listFile) {
  std::vector<std::string> arguments;
  switch (step.kind) {
    case SyncStep::Kind::kMakeFolder:
      arguments = {"mkdir", request.remote};
      break;
    case SyncStep::Kind::kUpload:
      // --checksum: the bytes decide, not the times. A name keeps its size while its bytes
      // change between releases, and a tree copied or restored elsewhere has new times for the
      // same bytes; an S3 listing carries the MD5s, so this costs only reading the tree.
      // --fast-list here too: the destination in one listing (see the deleting step).
      arguments = {"copy",       "--fast-list",     source,           request.remote, "--files-from-raw", listFile,
                   "--checksum", "--header-upload", step.cacheControl};
      break;
    case SyncStep::Kind::kRemoveSignature:
      arguments = {"delete", request.remote, "--include", "/release.manifest.sig", "--max-depth", "1"};
      break;
    case SyncStep::Kind::kDeleteDropped:
      // Every object is up by now and the tree is locked, so sync finds nothing to copy: it
      // only deletes what the tree no longer holds, and leaves what is never uploaded.
      // --fast-list: one recursive listing instead of one a folder, fewer requests for a tree of
      // thousands of folders (and s3rver leaves nested folders out of a folder's listing).
      arguments = {"sync",
                   "--fast-list",
                   source,
                   request.remote,
                   "--checksum",
                   "--exclude",
                   std::string("/") + kLockName,
                   "--exclude",
                   "*.publish-tmp",
                   "--header-upload",
                   step.cacheControl};
      break;
  }
  if (!request.rcloneConfig.empty()) {
    arguments.push_back("--config");
    arguments.push_back(request.rcloneConfig);
  }
  return arguments;
}

std::string CommandText(const std::string& program, const std::vector<std::string>& arguments) {
  std::string text = program;
  for (const std::string& argument : arguments) {
    const bool plain = !argument.empty() && argument.find_first_of(" \t\"'*\\$") == std::string::npos;
    text += plain ? " " + argument : " '" + argument + "'";
  }
  return text;
}

std::string StepTitle(std::size_t index, std::size_t count, const SyncStep& step) {
  std::string title = "step " + std::to_string(index + 1) + " of " + std::to_string(count) + ", " + step.name;
  if (step.kind == SyncStep::Kind::kUpload) title += ": " + std::to_string(step.objects.size()) + " objects";
  return title;
}

bool IsServerTree(const fs::path& root) {
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    ReportError(PathText(root) + " is not a folder");
    return false;
  }
  if (!fs::is_regular_file(root / "version", error)) {
    ReportError(PathText(root) + " is not a server tree: it has no version file (publish release makes one)");
    return false;
  }
  return true;
}

}  // namespace

int RunSync(const std::vector<std::u16string>& arguments) {
  SyncRequest request;
  if (const int usage = ParseRequest(arguments, &request); usage != 0) return usage;
  if (!request.dryRun && !CanRunPrograms()) {
    ReportError("sync runs rclone, which this Windows build of publish cannot do: run publish sync on Linux");
    return kFailedExit;
  }
  if (!IsServerTree(request.serverRoot)) return kFailedExit;
  platform::File lock;
  if (!LockTree(request.serverRoot, request.dryRun, &lock)) return kFailedExit;
  std::vector<SyncStep> steps;
  std::string why;
  if (!PlanSync(request.serverRoot, &steps, &why)) {
    ReportError(why);
    return kFailedExit;
  }
  std::error_code error;
  // Absolute, so that rclone never takes a folder name with a colon for a remote.
  const std::u8string sourceText = fs::absolute(request.serverRoot, error).u8string();
  const std::string source(sourceText.begin(), sourceText.end());
  ListFolder lists;
  if (!request.dryRun && !lists.made()) {
    ReportError("cannot make a temporary folder for rclone's object lists");
    return kFailedExit;
  }
  bool versionUp = false;
  for (std::size_t index = 0; index < steps.size(); ++index) {
    const SyncStep& step = steps[index];
    const std::string title = StepTitle(index, steps.size(), step);
    if (step.kind == SyncStep::Kind::kUpload && step.objects.empty()) {
      ReportLine(title + ", nothing to upload");
      continue;
    }
    fs::path listFile = "OBJECT_LIST";
    if (!request.dryRun && step.kind == SyncStep::Kind::kUpload &&
        !lists.Write("step-" + std::to_string(index + 1), step.objects, &listFile)) {
      ReportError("cannot write the object list of the step " + step.name);
      return kFailedExit;
    }
    const std::vector<std::string> rcloneArguments = RcloneArguments(step, source, request, PathText(listFile));
    ReportLine(title);
    ReportLine("  " + CommandText(request.rclone, rcloneArguments));
    if (request.dryRun) continue;
    int exitCode = 0;
    if (!RunProgram(request.rclone, rcloneArguments, &exitCode, &why)) {
      ReportError(why);
      return kFailedExit;
    }
    if (exitCode != 0) {
      ReportError("rclone failed in the step " + step.name + " (exit " + std::to_string(exitCode) + "); " +
                  (versionUp ? "version is up, but objects no release needs may remain"
                             : "version was not uploaded, so clients still read the remote's earlier release") +
                  ": run publish sync again to finish");
      return kFailedExit;
    }
    versionUp = versionUp || step.name == "version";
  }
  ReportLine(request.dryRun ? "dry run: nothing uploaded"
                            : "synced " + PathText(request.serverRoot) + " to " + request.remote);
  return 0;
}
