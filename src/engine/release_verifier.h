#pragma once
// Signed releases on the updater's side. With the operator's public keys built in (or given),
// the release manifest and its signature are fetched before anything else of a release, and
// every resource the updater reads is held against the manifest's length and digest; the
// highest release ever verified is kept, and a signed release below it is refused. Without
// keys nothing is checked: servers of the original format work as they always did.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/operation_context.h"
#include "formats/release_manifest.h"
#include "formats/release_signature.h"
#include "net/fetch_result.h"
#include "net/update_server_client.h"

// The keys built in at configure time (-DSOLMERE_RELEASE_KEY=HEX[,HEX]); none when empty.
std::vector<PublicKey> BuiltInReleaseKeys();
// Keys as text, comma-separated; none when any of them is no key, or more than two are given.
std::optional<std::vector<PublicKey>> ReleaseKeysOfText(std::string_view text);

// Why a release could not be verified.
enum class VerifyFailure {
  kNone,
  kNoManifest,    // the manifest or its signature did not come (see the failed request)
  kMalformed,     // the manifest is not one
  kBadSignature,  // no key of the updater signed it
  kExpired,       // its expiry has passed
  kRolledBack,    // it is of a release below one verified before
  kOtherRelease,  // "version" names another release than the manifest
  kMismatch,      // a resource differs from the manifest's length or digest, or is not listed
};

// English words for log lines.
std::u16string VerifyFailureText(VerifyFailure failure);

// The length and SHA-256 of a whole file; false when it cannot be read.
bool FileSha256(const std::u16string& path, uint64_t* length, Sha256Digest* digest);

// Used from more than one thread (the start-up asks for the updater's version while the
// workflow asks for the release): the manifest held is replaced whole, under a lock.
class ReleaseVerifier {
 public:
  // `verifiedFile` keeps the highest release verified.
  ReleaseVerifier(std::vector<PublicKey> keys, std::u16string verifiedFile)
      : keys_(std::move(keys)), verifiedFile_(std::move(verifiedFile)) {}

  bool enabled() const { return !keys_.empty(); }
  // Before any fetch: the keys are read without a lock.
  void SetKeys(std::vector<PublicKey> keys) {
    keys_ = std::move(keys);
    Hold(nullptr);
  }

  // Fetches the manifest and its signature and checks them; the manifest is held on success.
  // `request` names a fetch that failed. With `release`, the manifest held so far stays
  // unless this one verifies and is of that release (a mirror of the same release).
  VerifyFailure Load(UpdateServerClient& client, const OperationContext& context, FailedRequest* request,
                     int32_t release = 0, std::string_view query = {});
  // Without keys: the server's manifest as it stands, unsigned, held to tell the resources of
  // its release from copies a cache kept of another's (none held for a server without one, or
  // with one that is not a manifest). `query` goes with the request (see FetchToBuffer). Gives
  // the release of the manifest held, 0 for none.
  int32_t LoadUnsigned(UpdateServerClient& client, const OperationContext& context, std::string_view query = {});
  // Holds no manifest.
  void Drop() { Hold(nullptr); }
  // Whether a manifest, signed or not, is held.
  bool holds() const { return Held() != nullptr; }
  // Whether `bytes` are the resource `name` of the held manifest.
  bool Matches(std::string_view name, const std::vector<uint8_t>& bytes) const;
  bool Matches(std::string_view name, uint64_t length, const Sha256Digest& digest) const;
  // Whether some resource of the held manifest has exactly this length and digest.
  bool Lists(uint64_t length, const Sha256Digest& digest) const;
  // The release of the held manifest; 0 when none is held.
  int32_t release() const {
    const std::shared_ptr<const ReleaseManifest> manifest = Held();
    return manifest ? manifest->release : 0;
  }
  // Keeps the held release as the lowest one taken from now on.
  void RecordVerified() const;

 private:
  std::shared_ptr<const ReleaseManifest> Held() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return manifest_;
  }
  void Hold(std::shared_ptr<const ReleaseManifest> manifest) {
    std::lock_guard<std::mutex> lock(mutex_);
    manifest_ = std::move(manifest);
  }

  std::vector<PublicKey> keys_;
  std::u16string verifiedFile_;
  mutable std::mutex mutex_;
  std::shared_ptr<const ReleaseManifest> manifest_;
};
