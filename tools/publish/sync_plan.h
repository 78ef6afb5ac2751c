#pragma once
// The order in which publish sync uploads a server tree to a remote, so that a client reading
// the remote at any moment finds everything the version it reads names: the content first, then
// the lists and the release manifest that name it, then version, and only then the deletion of
// what no release names any more.

#include <filesystem>
#include <string>
#include <vector>

// Chunks and chunk indexes are named by the digests of their bytes: a name never gets other
// bytes, so caches may keep them for good. Every other name (files\X above all) gets new bytes
// from one release to the next.
inline constexpr char kImmutableCache[] = "Cache-Control: public, max-age=31536000, immutable";
inline constexpr char kNoCache[] = "Cache-Control: no-cache";

struct SyncStep {
  enum class Kind {
    kMakeFolder,       // makes the remote's folder (or bucket) when it is missing
    kUpload,           // copies `objects` with the header `cacheControl`
    kRemoveSignature,  // deletes the remote's release.manifest.sig
    kDeleteDropped,    // deletes the remote objects the tree no longer holds
  };
  Kind kind = Kind::kUpload;
  std::string name;
  std::string cacheControl;
  // Names relative to the tree, with "/" between folders, sorted.
  std::vector<std::string> objects;
};

// Whether an object of the tree goes to the remote: not the lock file, not a file publish
// leaves half-written (".publish-tmp").
bool IsUploaded(const std::string& name);

// The steps for the tree at `root`, in the order they must run; false with the reason when the
// tree cannot be read.
bool PlanSync(const std::filesystem::path& root, std::vector<SyncStep>* steps, std::string* why);
