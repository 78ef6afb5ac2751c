#include "sync_plan.h"

#include <algorithm>
#include <system_error>

#include "formats/release_manifest.h"
#include "tree_files.h"
#include "tree_lock.h"

namespace fs = std::filesystem;

namespace {

constexpr char kTemporarySuffix[] = ".publish-tmp";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsChangeList(const std::string& name) {
  return StartsWith(name, "list_") && name.size() > 5 &&
         std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

enum Step : std::size_t {
  kRemoteFolder,
  kChunks,
  kChunkIndexes,
  kContent,
  kLists,
  kPatcherVersion,
  kOldSignature,
  kManifest,
  kSignature,
  kVersion,
  kDeletions,
  kStepCount,
};

Step StepOf(const std::string& name) {
  if (StartsWith(name, "chunks/index/")) return kChunkIndexes;
  if (StartsWith(name, "chunks/")) return kChunks;
  if (IsChangeList(name) || name == "fulllist" || name == "patches/list" || name == "patcher/list" ||
      name == "launcher/list")
    return kLists;
  if (name == "patcher_version_new") return kPatcherVersion;
  if (name == kManifestResource) return kManifest;
  if (name == kManifestSignatureResource) return kSignature;
  if (name == "version") return kVersion;
  // files\, patches\*.cup, patcher\files\, launcher\files\, manifests\ and anything else: what
  // the lists name goes before them.
  return kContent;
}

}  // namespace

bool IsUploaded(const std::string& name) {
  const std::size_t suffix = sizeof kTemporarySuffix - 1;
  return name != kLockName &&
         !(name.size() >= suffix && name.compare(name.size() - suffix, suffix, kTemporarySuffix) == 0);
}

bool PlanSync(const fs::path& root, std::vector<SyncStep>* steps, std::string* why) {
  steps->assign(kStepCount, {});
  // Deleting from a remote folder that is not there yet fails.
  (*steps)[kRemoteFolder] = {SyncStep::Kind::kMakeFolder, "remote folder", "", {}};
  // An index stands on the remote only once all its chunks do, as in the tree (chunk_store.h).
  (*steps)[kChunks] = {SyncStep::Kind::kUpload, "chunks", kImmutableCache, {}};
  (*steps)[kChunkIndexes] = {SyncStep::Kind::kUpload, "chunk indexes", kImmutableCache, {}};
  (*steps)[kContent] = {SyncStep::Kind::kUpload, "content", kNoCache, {}};
  // In the order publish release writes them: the lists, then the updater version that asks
  // for the updater's files (already up), then the manifest of it all, then version.
  (*steps)[kLists] = {SyncStep::Kind::kUpload, "lists", kNoCache, {}};
  (*steps)[kPatcherVersion] = {SyncStep::Kind::kUpload, "patcher_version_new", kNoCache, {}};
  // The old signature goes before the new manifest and the new one after it, each alone: at no
  // moment does a signature stand beside a manifest it was not made for (a client that needs
  // one finds none for a moment and tries again, as with publish's own tree).
  (*steps)[kOldSignature] = {SyncStep::Kind::kRemoveSignature, "old signature", "", {}};
  (*steps)[kManifest] = {SyncStep::Kind::kUpload, "release manifest", kNoCache, {}};
  (*steps)[kSignature] = {SyncStep::Kind::kUpload, "signature", kNoCache, {}};
  (*steps)[kVersion] = {SyncStep::Kind::kUpload, "version", kNoCache, {}};
  // Last: a client that read the old version still finds its files until version moved on.
  (*steps)[kDeletions] = {SyncStep::Kind::kDeleteDropped, "deletions", kNoCache, {}};

  std::error_code error;
  fs::recursive_directory_iterator item(root, error), end;
  for (; !error && item != end; item.increment(error)) {
    if (!item->is_regular_file(error)) continue;
    const std::u8string generic = item->path().lexically_relative(root).generic_u8string();
    const std::string name(generic.begin(), generic.end());
    if (IsUploaded(name)) (*steps)[StepOf(name)].objects.push_back(name);
  }
  if (error) {
    *why = "cannot read the tree " + PathText(root) + ": " + error.message();
    return false;
  }
  for (SyncStep& step : *steps) std::sort(step.objects.begin(), step.objects.end());
  return true;
}
