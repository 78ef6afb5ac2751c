// The release manifest as the updater reads it: anything accepted holds a release within the
// bound and names each resource once, and writing it out again gives the very same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base/decimal_text.h"
#include "formats/release_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<ReleaseManifest> manifest = ParseReleaseManifest(text);
  if (!manifest) return 0;
  if (manifest->release < 1 || manifest->release > kMaxVersion) std::abort();
  std::set<std::string> names;
  for (const ManifestResource& resource : manifest->resources) {
    if (resource.name.empty() || resource.name.size() > kMaxManifestNameLength) std::abort();
    if (!names.insert(resource.name).second) std::abort();
  }
  // One text per manifest: upper-case digits and leading zeros are the only other spellings.
  const std::string again = FormatReleaseManifest(*manifest);
  if (ParseReleaseManifest(again) != manifest) std::abort();
  return 0;
}
