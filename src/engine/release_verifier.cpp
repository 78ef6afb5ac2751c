#include "engine/release_verifier.h"

#include <algorithm>
#include <chrono>

#include "base/log.h"
#include "base/number_file.h"
#include "platform/file.h"

namespace {

// A signature is 128 hexadecimal digits and a line end.
constexpr uint32_t kMaxSignatureLength = 1024;

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::optional<std::vector<PublicKey>> ReleaseKeysOfText(std::string_view text) {
  std::vector<PublicKey> keys;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::optional<PublicKey> key = PublicKeyOfHex(text.substr(0, comma));
    if (!key) return std::nullopt;
    keys.push_back(*key);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (keys.size() > 2) return std::nullopt;
  return keys;
}

std::vector<PublicKey> BuiltInReleaseKeys() {
  static const std::optional<std::vector<PublicKey>> keys = ReleaseKeysOfText(SOLMERE_RELEASE_KEY);
  return keys.value_or(std::vector<PublicKey>{});
}

bool FileSha256(const std::u16string& path, uint64_t* length, Sha256Digest* digest) {
  platform::File file;
  uint64_t size = 0;
  if (file.Open(path, platform::FileMode::kRead) != 0 || !file.Seek(0, platform::SeekOrigin::kEnd) ||
      !file.Tell(&size) || !file.Seek(0, platform::SeekOrigin::kStart))
    return false;
  Sha256Stream stream;
  std::vector<uint8_t> piece(1u << 20);
  for (uint64_t done = 0; done < size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(piece.size(), size - done));
    if (!file.Read(piece.data(), n)) return false;
    stream.Add(piece.data(), n);
    done += n;
  }
  *length = size;
  *digest = stream.Finish();
  return true;
}

std::u16string VerifyFailureText(VerifyFailure failure) {
  switch (failure) {
    case VerifyFailure::kNone:
      return u"verified";
    case VerifyFailure::kNoManifest:
      return u"no signed release manifest";
    case VerifyFailure::kMalformed:
      return u"the release manifest is malformed";
    case VerifyFailure::kBadSignature:
      return u"the release manifest is not signed by the operator's key";
    case VerifyFailure::kExpired:
      return u"the release manifest has expired";
    case VerifyFailure::kRolledBack:
      return u"the release is older than one verified before";
    case VerifyFailure::kOtherRelease:
      return u"the version is not the release the manifest signs";
    case VerifyFailure::kMismatch:
      return u"the resource does not match the signed release manifest";
  }
  return u"?";
}

VerifyFailure ReleaseVerifier::Load(UpdateServerClient& client, const OperationContext& context, FailedRequest* request,
                                    int32_t release, std::string_view query) {
  if (release == 0) Hold(nullptr);
  std::vector<uint8_t> text;
  std::vector<uint8_t> signature;
  for (const auto& [name, bytes, bound] :
       {std::tuple{kManifestResource, &text, static_cast<uint32_t>(kMaxManifestSize)},
        std::tuple{kManifestSignatureResource, &signature, kMaxSignatureLength}}) {
    const std::string resourceName(name);
    const std::u16string resource(resourceName.begin(), resourceName.end());
    const FetchResult fetched = client.FetchToBuffer(resource, *bytes, context, bound, false, query);
    if (!fetched.complete()) {
      *request = client.FailureOf(resource, fetched);
      return VerifyFailure::kNoManifest;
    }
  }
  const std::string_view message(reinterpret_cast<const char*>(text.data()), text.size());
  const std::string_view signed_(reinterpret_cast<const char*>(signature.data()), signature.size());
  bool signedByOurs = false;
  for (const PublicKey& key : keys_) signedByOurs = signedByOurs || SignatureMatches(signed_, message, key);
  if (!signedByOurs) return VerifyFailure::kBadSignature;
  std::optional<ReleaseManifest> manifest = ParseReleaseManifest(message);
  if (!manifest) return VerifyFailure::kMalformed;
  if (manifest->expires <= NowSeconds()) return VerifyFailure::kExpired;
  const std::optional<int32_t> verified = ReadNumberFile(verifiedFile_);
  if (verified && manifest->release < *verified) return VerifyFailure::kRolledBack;
  if (release != 0 && manifest->release != release) return VerifyFailure::kOtherRelease;
  Hold(std::make_shared<const ReleaseManifest>(std::move(*manifest)));
  return VerifyFailure::kNone;
}

int32_t ReleaseVerifier::LoadUnsigned(UpdateServerClient& client, const OperationContext& context,
                                      std::string_view query) {
  Hold(nullptr);
  std::vector<uint8_t> text;
  const std::string name(kManifestResource);
  if (!client
           .FetchToBuffer(std::u16string(name.begin(), name.end()), text, context,
                          static_cast<uint32_t>(kMaxManifestSize), true, query)
           .complete())
    return 0;
  std::optional<ReleaseManifest> manifest =
      ParseReleaseManifest(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
  if (!manifest) return 0;
  const int32_t release = manifest->release;
  Hold(std::make_shared<const ReleaseManifest>(std::move(*manifest)));
  return release;
}

bool ReleaseVerifier::Matches(std::string_view name, const std::vector<uint8_t>& bytes) const {
  return Matches(name, bytes.size(), Sha256(bytes.data(), bytes.size()));
}

bool ReleaseVerifier::Matches(std::string_view name, uint64_t length, const Sha256Digest& digest) const {
  const std::shared_ptr<const ReleaseManifest> manifest = Held();
  if (!manifest) return false;
  const ManifestResource* resource = manifest->Find(name);
  return resource != nullptr && resource->length == length && resource->digest == digest;
}

bool ReleaseVerifier::Lists(uint64_t length, const Sha256Digest& digest) const {
  const std::shared_ptr<const ReleaseManifest> manifest = Held();
  if (!manifest) return false;
  for (const ManifestResource& resource : manifest->resources)
    if (resource.length == length && resource.digest == digest) return true;
  return false;
}

void ReleaseVerifier::RecordVerified() const {
  const std::shared_ptr<const ReleaseManifest> manifest = Held();
  if (!manifest) return;
  const std::optional<int32_t> verified = ReadNumberFile(verifiedFile_);
  if (verified && *verified >= manifest->release) return;
  if (!WriteNumberFile(verifiedFile_, manifest->release)) Log::Error(u"Can't create file %s", verifiedFile_);
}
