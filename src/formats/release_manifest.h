#pragma once
// The release manifest: what the server holds for one release, resource by resource, with
// each resource's length and SHA-256 digest, the release number and the time after which the
// manifest no longer counts. Signed by the operator's key ("release.manifest.sig"), it binds every
// byte the updater reads to the release the operator published; unsigned, it still ties the
// lists of one release together. Text, one field per line:
//
//   solmere-release-manifest 1
//   release 7
//   expires 1767225600                       (seconds since 1970-01-01 UTC; 0: unsigned, never)
//   resource 2 <64 hex digits> version       (length, digest, the name the updater asks for)
//   resource 81234 <64 hex digits> fulllist
//   ...
//
// Lines end with "\n"; names are the resource names as requested ("patches\list") or the
// URLs of update packages as "patches\list" gives them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kManifestResource[] = "release.manifest";
inline constexpr char kManifestSignatureResource[] = "release.manifest.sig";
// Largest manifest taken: a release lists a few thousand resources at most.
inline constexpr std::size_t kMaxManifestSize = 4u * 1024 * 1024;
inline constexpr std::size_t kMaxManifestNameLength = 1024;

using Sha256Digest = std::array<uint8_t, 32>;

struct ManifestResource {
  std::string name;
  uint64_t length = 0;
  Sha256Digest digest{};

  bool operator==(const ManifestResource&) const = default;
};

struct ReleaseManifest {
  int32_t release = 0;
  int64_t expires = 0;
  std::vector<ManifestResource> resources;

  // The entry of a resource by its name; null when the manifest does not list it.
  const ManifestResource* Find(std::string_view name) const;
  bool operator==(const ReleaseManifest&) const = default;
};

// The manifest in its text form, resources in the order given.
std::string FormatReleaseManifest(const ReleaseManifest& manifest);

// The manifest of a text; none for anything that is not exactly the form above (an unknown
// header, a release outside 1..kMaxVersion, a length or digest that does not read, a name
// empty, longer than kMaxManifestNameLength or holding control characters, a name listed
// twice, a text above kMaxManifestSize).
std::optional<ReleaseManifest> ParseReleaseManifest(std::string_view text);

// Lower-case hexadecimal digits of bytes, and back (none unless exactly 2 digits a byte).
std::string HexText(const uint8_t* bytes, std::size_t size);
std::optional<std::vector<uint8_t>> BytesOfHex(std::string_view hex);
