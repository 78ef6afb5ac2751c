#pragma once
// The release manifest of a server tree ("release.manifest"), signed by the operator's key
// ("release.manifest.sig") or not, and the key files that hold the secret keys.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "formats/release_manifest.h"
#include "formats/release_signature.h"

using SecretKey = std::array<uint8_t, kSecretKeySize>;

// Default life of a manifest: an operator re-signs (publish sign) before it ends.
inline constexpr int64_t kDefaultExpiryDays = 30;

// A new key file, readable by its owner alone; false with the reason when the file exists
// or cannot be written. The public key of the pair goes to `publicKey`.
bool WriteNewKeyFile(const std::filesystem::path& path, PublicKey* publicKey, std::string* why);
// The secret key of a key file.
bool ReadKeyFile(const std::filesystem::path& path, SecretKey* key, std::string* why);

// The manifest of the tree as it will stand once `version` holds `release`: that version text,
// fulllist, every list_N, patches\list with the package of each of its lines, and
// patcher_version_new, each with its length and digest.
bool ComputeReleaseManifest(const std::filesystem::path& serverRoot, int32_t release, int64_t expires,
                            ReleaseManifest* manifest, std::string* why);

// Writes the manifest, and with a key its signature; an unsigned manifest takes away a
// signature of an earlier one, which it would no longer match.
bool WriteReleaseManifest(const std::filesystem::path& serverRoot, const ReleaseManifest& manifest,
                          const std::optional<SecretKey>& key, std::string* why);

// Seconds since 1970 now, and the expiry `days` from now.
int64_t NowSeconds();
int64_t ExpiryInDays(int64_t days);
