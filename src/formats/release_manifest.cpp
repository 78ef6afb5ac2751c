#include "formats/release_manifest.h"

#include <algorithm>
#include <unordered_set>

#include "base/decimal_text.h"
#include "formats/text_fields.h"

namespace {

constexpr std::string_view kHeader = "solmere-release-manifest 1";

bool UsableName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxManifestNameLength && std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

}  // namespace

const ManifestResource* ReleaseManifest::Find(std::string_view name) const {
  for (const ManifestResource& resource : resources)
    if (resource.name == name) return &resource;
  return nullptr;
}

std::string HexText(const uint8_t* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

std::optional<std::vector<uint8_t>> BytesOfHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

std::string FormatReleaseManifest(const ReleaseManifest& manifest) {
  std::string text(kHeader);
  text += "\nrelease " + std::to_string(manifest.release) + "\nexpires " + std::to_string(manifest.expires) + "\n";
  for (const ManifestResource& resource : manifest.resources) {
    text += "resource " + std::to_string(resource.length) + " " +
            HexText(resource.digest.data(), resource.digest.size()) + " " + resource.name + "\n";
  }
  return text;
}

std::optional<ReleaseManifest> ParseReleaseManifest(std::string_view text) {
  if (text.size() > kMaxManifestSize || text.empty() || text.back() != '\n') return std::nullopt;
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (lines.size() < 3 || lines[0] != kHeader) return std::nullopt;
  ReleaseManifest manifest;
  const std::optional<std::string_view> release = Field(lines[1], "release");
  const std::optional<std::string_view> expires = Field(lines[2], "expires");
  if (!release || !expires) return std::nullopt;
  const std::optional<int32_t> releaseNumber = WholeNumber<int32_t>(*release);
  const std::optional<int64_t> expiry = WholeNumber<int64_t>(*expires);
  if (!releaseNumber || *releaseNumber < 1 || *releaseNumber > kMaxVersion || !expiry) return std::nullopt;
  manifest.release = *releaseNumber;
  manifest.expires = *expiry;
  std::unordered_set<std::string_view> names;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    const std::optional<std::string_view> fields = Field(lines[i], "resource");
    if (!fields) return std::nullopt;
    const std::size_t lengthEnd = fields->find(' ');
    if (lengthEnd == std::string_view::npos) return std::nullopt;
    const std::size_t digestEnd = lengthEnd + 1 + 64;
    if (fields->size() <= digestEnd || (*fields)[digestEnd] != ' ') return std::nullopt;
    const std::optional<uint64_t> length = WholeNumber<uint64_t>(fields->substr(0, lengthEnd));
    const std::optional<std::vector<uint8_t>> digest = BytesOfHex(fields->substr(lengthEnd + 1, 64));
    const std::string_view name = fields->substr(digestEnd + 1);
    if (!length || !digest || !UsableName(name) || !names.insert(name).second) return std::nullopt;
    ManifestResource resource;
    resource.name = std::string(name);
    resource.length = *length;
    std::copy(digest->begin(), digest->end(), resource.digest.begin());
    manifest.resources.push_back(std::move(resource));
  }
  return manifest;
}
