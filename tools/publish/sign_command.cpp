// keygen and sign: the operator's key, and a tree's release manifest signed anew (to move its
// expiry on, or with a new key after a rotation).

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/decimal_text.h"
#include "commands.h"
#include "report.h"
#include "tree_files.h"

namespace fs = std::filesystem;

// A manifest lives at most this long: a key's signature should not outlast a year.
constexpr int64_t kMaxExpiryDays = 366;

int ParseSigning(ParsedArguments& parsed, std::optional<SecretKey>* key, int64_t* expiryDays) {
  std::string why;
  const auto& expires = parsed.options["expires-in"];
  if (expires.size() > 1) return BadUsage("--expires-in given more than once");
  const auto& sign = parsed.options["sign"];
  if (sign.size() > 1) return BadUsage("--sign given more than once");
  if (!expires.empty()) {
    if (sign.empty()) return BadUsage("--expires-in needs --sign (an unsigned manifest does not expire)");
    if (!ParseNumber(expires[0], 1, kMaxExpiryDays, expiryDays, &why)) return BadUsage("--expires-in: " + why);
  }
  if (!sign.empty()) {
    SecretKey secret{};
    if (!ReadKeyFile(fs::path(sign[0]), &secret, &why)) {
      ReportError(why);
      return kFailedExit;
    }
    *key = secret;
  }
  return 0;
}

int RunKeygen(const std::vector<std::u16string>& arguments) {
  ParsedArguments parsed;
  std::string why;
  if (!SplitArguments(arguments, {}, {}, &parsed, &why)) return BadUsage(why);
  if (parsed.positionals.size() != 1) return BadUsage("keygen takes KEYFILE");
  PublicKey publicKey{};
  if (!WriteNewKeyFile(fs::path(parsed.positionals[0]), &publicKey, &why)) {
    ReportError(why);
    return kFailedExit;
  }
  // Alone on stdout, for -DSOLMERE_RELEASE_KEY=... and patcher-cli --release-key.
  std::printf("%s\n", HexText(publicKey.data(), publicKey.size()).c_str());
  ReportNote("secret key written to " + PathText(fs::path(parsed.positionals[0])) +
             ": keep it off the server, readable by you alone, with a copy offline");
  return 0;
}

int RunSign(const std::vector<std::u16string>& arguments) {
  ParsedArguments parsed;
  std::string why;
  if (!SplitArguments(arguments, {"expires-in"}, {}, &parsed, &why)) return BadUsage(why);
  if (parsed.positionals.size() != 2) return BadUsage("sign takes SERVER_DIR KEYFILE");
  parsed.options["sign"] = {parsed.positionals[1]};
  std::optional<SecretKey> key;
  int64_t expiryDays = kDefaultExpiryDays;
  if (const int code = ParseSigning(parsed, &key, &expiryDays); code != 0) return code;
  const fs::path serverRoot(parsed.positionals[0]);
  std::vector<uint8_t> version;
  if (!ReadFileBytes(serverRoot / "version", 64, &version, &why)) {
    ReportError(PathText(serverRoot) + " is no server tree with a release: " + why);
    return kFailedExit;
  }
  const std::optional<int32_t> release = ParseServerVersion(version.data(), version.size());
  if (!release) {
    ReportError(PathText(serverRoot / "version") + " holds no release number");
    return kFailedExit;
  }
  ReleaseManifest manifest;
  if (!ComputeReleaseManifest(serverRoot, *release, ExpiryInDays(expiryDays), &manifest, &why) ||
      !WriteReleaseManifest(serverRoot, manifest, key, &why)) {
    ReportError(why);
    return kFailedExit;
  }
  ReportLine("release " + std::to_string(*release) + " signed: " + std::to_string(manifest.resources.size()) +
             " resources, valid for " + std::to_string(expiryDays) + " days");
  return 0;
}
