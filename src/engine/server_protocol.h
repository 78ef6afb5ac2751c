#pragma once
// The engine's side of the update server: its version, the change and full lists, the
// choice of an update package from "patches\list", and the updater's own version
// ("patcher_version_new"). It owns the one HTTP client; the file check and the package
// download fetch through it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/operation_context.h"
#include "engine/release_verifier.h"
#include "formats/file_list.h"
#include "net/fetch_result.h"
#include "net/server_mirrors.h"
#include "net/update_server_address.h"
#include "net/update_server_client.h"
#include "platform/http.h"

struct ServerVersion {
  enum class Outcome {
    kFetched,
    kFailed,      // the answer did not come whole
    kMalformed,   // it came, but is no release number (see ParseServerVersion)
    kUnverified,  // with release keys: the release could not be verified (see failure)
    kCancelled,
  };
  Outcome outcome = Outcome::kFailed;
  // kFetched: the number "version" holds, 1 to kMaxVersion.
  int32_t version = -1;
  // kFailed: the request.
  FailedRequest request;
  // kMalformed: the start of what came instead, as printable text.
  std::string received;
  // kUnverified: why.
  VerifyFailure failure = VerifyFailure::kNone;

  bool fetched() const { return outcome == Outcome::kFetched; }
};

// The start of untrusted bytes as printable ASCII for a message: at most `limit` characters,
// every other byte as \xNN, "..." when more followed.
std::string PrintableStart(const std::vector<uint8_t>& bytes, std::size_t limit = 60);

// The query that names a release ("release=N"), sent to pass copies caches kept of a resource.
std::string ReleaseQuery(int32_t release);

struct ListResult {
  enum class Outcome {
    kLoaded,        // the table holds the list
    kFetchFailed,   // the list did not arrive whole
    kEmpty,         // a change list with no bytes at all
    kUnreadable,    // shorter than its count, an entry past the end, a full list without its version
    kOtherRelease,  // a full list of another release than the server's version
    kUnverified,    // with release keys: it does not match the signed release manifest
    kCancelled,
  };
  Outcome outcome = Outcome::kFetchFailed;
  // kLoaded: the version the list leads to; kOtherRelease: the one a full list claims.
  int32_t version = -1;
  // "list_N" or "fulllist".
  std::u16string resource;
  // kFetchFailed.
  FailedRequest request;

  bool loaded() const { return outcome == Outcome::kLoaded; }
};

// The update package "patches\list" names for a pair of versions.
struct PatchChoice {
  // Empty when none fits, or when the list could not be had (see request).
  std::u16string url;
  int32_t from = -1;
  int32_t to = -1;
  // The failed fetch of the list itself; failure kNone when it came.
  FailedRequest request;
  // With release keys: the list came but does not match the signed release manifest.
  bool unverified = false;
};

class ServerProtocol {
 public:
  // The most each small resource may declare, checked before anything is allocated: a
  // version is one number (with the white space "%d" skips before it), a line of "patches\list" holds two numbers and a
  // URL of at most 259 characters, and a list of the largest clients is some tens of megabytes.
  static constexpr uint32_t kMaxNumberLength = 4096;
  static constexpr uint32_t kMaxPatchListLength = 16u * 1024 * 1024;
  static constexpr uint32_t kMaxListLength = UpdateServerClient::kMaxBufferLength;

  // Connects at once to the first server; a fetch connects again when needed. Releases are
  // verified with the built-in keys (see ReleaseVerifier); `verifiedFile` keeps the highest
  // release verified. The servers are tried in order (see ServerMirrors).
  ServerProtocol(const std::vector<UpdateServerAddress>& servers, const std::u16string& verifiedFile,
                 const platform::HttpLimits& limits = {});
  ServerProtocol(const UpdateServerAddress& server, const std::u16string& verifiedFile,
                 const platform::HttpLimits& limits = {})
      : ServerProtocol(std::vector<UpdateServerAddress>{server}, verifiedFile, limits) {}

  // Keys that replace the built-in ones; none: nothing is verified.
  void SetReleaseKeys(std::vector<PublicKey> keys) { verifier_.SetKeys(std::move(keys)); }
  // With keys, the release manifest and its signature come first, and "version" must be the
  // release they sign; every list and package after it is held against that manifest.
  // From the first server that gives one, which becomes the current server.
  ServerVersion FetchServerVersion(const OperationContext& context);
  // The lists below come from the current server; one that fails there is taken from
  // another server that holds the same release, which becomes the current one.
  // "list_" + (server - client) into `table`; the version it leads to is the server's.
  ListResult GetList(const OperationContext& context, int32_t clientVersion, int32_t serverVersion, FileTable* table);
  // "fulllist" into `table`; the version stored in it must be the server's.
  ListResult GetFullList(const OperationContext& context, int32_t serverVersion, FileTable* table);
  PatchChoice FindPatchPackage(const OperationContext& context, int32_t clientVersion, int32_t serverVersion);
  // A package picked from disk, held against the server's signed release manifest.
  enum class PackageCheck {
    kNotChecked,  // no release keys: nothing is checked
    kVerified,    // the signed manifest names exactly this file
    kNotListed,   // the signed manifest came and does not name it
    kNoManifest,  // no signed manifest could be had or verified
  };
  PackageCheck CheckPackageFile(const OperationContext& context, const std::u16string& path);
  // The updater version the server expects: 0 for an empty resource, -1 (logged) when the
  // fetch failed or delivered fewer bytes than announced.
  int32_t FetchPatcherVersion(const OperationContext& context);
  // "<part>\list": the files of one of the updater's own programs ("patcher", "launcher") and
  // the version they make up (ListResult::version), in list order. A server without one
  // answers kFetchFailed with HTTP status 404.
  ListResult GetProgramList(const OperationContext& context, std::u16string_view part, std::vector<ListEntry>* entries);

  // The current server.
  UpdateServerClient& client() { return mirrors_.at(mirrors_.current()); }
  ServerMirrors& mirrors() { return mirrors_; }
  const ReleaseVerifier& verifier() const { return verifier_; }
  // The release of the last version fetched; 0 before one is.
  int32_t release() const { return release_.load(); }

 private:
  // The list `result` names into `buffer`; when it did not arrive whole, the result says why
  // (the failed request, or a cancel).
  // `optional`: see UpdateServerClient::FetchToBuffer.
  FetchResult FetchList(UpdateServerClient& client, const OperationContext& context, ListResult* result,
                        std::vector<uint8_t>* buffer, bool optional = false);
  // A small resource into `buffer`; one that does not match the manifest held (signed, or unsigned
  // from a server that has one) is asked for once more past caches (one may have held an old
  // copy). When it still does not, `unverified` is set with keys; without, the fetch fails.
  FetchResult FetchVerified(UpdateServerClient& client, const std::u16string& resource, std::vector<uint8_t>* buffer,
                            const OperationContext& context, uint32_t maxLength, bool* unverified,
                            bool optional = false);
  ServerVersion VersionFrom(std::size_t server, const OperationContext& context);
  // Without keys: holds the server's unsigned release manifest, when it has one of the release
  // `version` names (asked for past caches when the first one is not); gives the release, which
  // is the manifest's when the version came stale from a cache and the server has moved on.
  int32_t HoldUnsignedManifest(UpdateServerClient& client, const OperationContext& context, int32_t version);
  ListResult ListFrom(UpdateServerClient& client, const OperationContext& context, int32_t clientVersion,
                      int32_t serverVersion, FileTable* table);
  ListResult FullListFrom(UpdateServerClient& client, const OperationContext& context, int32_t serverVersion,
                          FileTable* table);
  PatchChoice PatchPackageFrom(UpdateServerClient& client, const OperationContext& context, int32_t clientVersion,
                               int32_t serverVersion);
  // Whether `server` gives `release` as its version (and, with keys, a manifest of it, held now).
  bool HoldsRelease(std::size_t server, int32_t release, const OperationContext& context);
  // `attempt` (true: done, or nothing to try again) on the current server, then on each other
  // server that holds `release`, until one is done.
  void OnSameRelease(const OperationContext& context, int32_t release,
                     const std::function<bool(UpdateServerClient&)>& attempt);

  ServerMirrors mirrors_;
  std::atomic<int32_t> release_{0};
  ReleaseVerifier verifier_;
};
