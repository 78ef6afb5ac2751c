#include "engine/server_protocol.h"

#include <functional>
#include <vector>

#include "base/byte_order.h"
#include "base/decimal_text.h"
#include "base/log.h"
#include "formats/patch_list.h"

ServerProtocol::ServerProtocol(const std::vector<UpdateServerAddress>& servers, const std::u16string& verifiedFile,
                               const platform::HttpLimits& limits)
    : mirrors_(servers, limits), verifier_(BuiltInReleaseKeys(), verifiedFile) {
  // The outcome is looked at by the first fetch, which connects again when needed.
  mirrors_.at(0).Connect();
}

FetchResult ServerProtocol::FetchVerified(UpdateServerClient& client, const std::u16string& resource,
                                          std::vector<uint8_t>* buffer, const OperationContext& context,
                                          uint32_t maxLength, bool* unverified, bool optional) {
  *unverified = false;
  const std::string name(resource.begin(), resource.end());
  FetchResult fetched = client.FetchToBuffer(resource, *buffer, context, maxLength, optional);
  const bool checked = verifier_.enabled() || verifier_.holds();
  if (!checked || !fetched.complete() || verifier_.Matches(name, *buffer)) return fetched;
  // A cache that keeps copies whatever the request asks keys on the query: one naming the
  // release passes it by, and a static server ignores it.
  const char16_t* manifest = verifier_.enabled() ? u"signed release manifest" : u"release manifest";
  Log::Error(u"%s does not match the %s: asked for again", resource, manifest);
  fetched = client.FetchToBuffer(resource, *buffer, context, maxLength, false, ReleaseQuery(verifier_.release()));
  if (fetched.complete() && !verifier_.Matches(name, *buffer)) {
    if (verifier_.enabled()) {
      Log::Error(u"%s: %s", resource, VerifyFailureText(VerifyFailure::kMismatch));
      *unverified = true;
    } else {
      // Unsigned, the manifest vouches for nothing: the server failed to give its release.
      Log::Error(u"%s does not match the release manifest of release %d", resource, verifier_.release());
      fetched.failure = FetchFailure::kFailed;
    }
  }
  return fetched;
}

ServerVersion ServerProtocol::FetchServerVersion(const OperationContext& context) {
  ServerVersion version;
  for (std::size_t server = 0; server < mirrors_.count(); ++server) {
    version = VersionFrom(server, context);
    if (version.fetched()) {
      if (mirrors_.count() > 1)
        Log::Info(u"Release %d from %s", version.version, AddressText(mirrors_.address(server)));
      mirrors_.SetCurrent(server);
      release_.store(version.version);
      break;
    }
    if (version.outcome == ServerVersion::Outcome::kCancelled || context.cancelled()) break;
  }
  return version;
}

bool ServerProtocol::HoldsRelease(std::size_t server, int32_t release, const OperationContext& context) {
  UpdateServerClient& client = mirrors_.at(server);
  std::vector<uint8_t> buffer;
  if (!client.FetchToBuffer(u"version", buffer, context, kMaxNumberLength).complete()) return false;
  if (ParseServerVersion(buffer.data(), buffer.size()) != release) return false;
  if (!verifier_.enabled()) return HoldUnsignedManifest(client, context, release) == release;
  FailedRequest request;
  return verifier_.Load(client, context, &request, release) == VerifyFailure::kNone;
}

void ServerProtocol::OnSameRelease(const OperationContext& context, int32_t release,
                                   const std::function<bool(UpdateServerClient&)>& attempt) {
  const std::size_t first = mirrors_.current();
  if (attempt(mirrors_.at(first)) || context.cancelled()) return;
  for (std::size_t server = 0; server < mirrors_.count(); ++server) {
    if (server == first || !HoldsRelease(server, release, context)) continue;
    Log::Info(u"Release %d taken from %s", release, AddressText(mirrors_.address(server)));
    mirrors_.SetCurrent(server);
    if (attempt(mirrors_.at(server)) || context.cancelled()) return;
  }
}

std::string ReleaseQuery(int32_t release) {
  return "release=" + std::to_string(release);
}

int32_t ServerProtocol::HoldUnsignedManifest(UpdateServerClient& client, const OperationContext& context,
                                             int32_t version) {
  int32_t release = verifier_.LoadUnsigned(client, context);
  if (release == 0 || release == version) return version;
  // A version and a manifest of two releases: a cache kept a copy of one of them. The manifest
  // is asked for past it for the version's release, then, when the server has moved on since,
  // the version for the manifest's.
  Log::Info(u"The release manifest is of release %d, the version %d: both asked for past caches", release, version);
  release = verifier_.LoadUnsigned(client, context, ReleaseQuery(version));
  if (release == version) return version;
  if (release > version) {
    std::vector<uint8_t> buffer;
    if (client.FetchToBuffer(u"version", buffer, context, kMaxNumberLength, false, ReleaseQuery(release)).complete() &&
        ParseServerVersion(buffer.data(), buffer.size()) == release)
      return release;
  }
  if (release != 0) Log::Error(u"The release manifest is of release %d, not %d: not used", release, version);
  verifier_.Drop();
  return version;
}

ServerVersion ServerProtocol::VersionFrom(std::size_t server, const OperationContext& context) {
  const std::u16string resource = u"version";
  UpdateServerClient& client = mirrors_.at(server);
  // The manifest of another release (or server) must not judge this one's resources.
  if (!verifier_.enabled()) verifier_.Drop();
  if (verifier_.enabled()) {
    ServerVersion refused;
    refused.failure = verifier_.Load(client, context, &refused.request);
    if (refused.failure != VerifyFailure::kNone) {
      if (context.cancelled()) return {ServerVersion::Outcome::kCancelled, -1, {}, {}};
      Log::Error(u"Release not verified: %s", VerifyFailureText(refused.failure));
      refused.outcome =
          refused.failure == VerifyFailure::kNoManifest && refused.request.failure != FetchFailure::kHttpStatus
              ? ServerVersion::Outcome::kFailed
              : ServerVersion::Outcome::kUnverified;
      return refused;
    }
  }
  std::vector<uint8_t> buffer;
  bool unverified = false;
  const FetchResult fetched = FetchVerified(client, resource, &buffer, context, kMaxNumberLength, &unverified);
  if (!fetched.complete()) {
    // A cancel that ended the fetch is no failure of the server's.
    if (context.cancelled()) return {ServerVersion::Outcome::kCancelled, -1, {}, {}};
    Log::Error(u"Can't load file from server: %s\n", resource);
    return {ServerVersion::Outcome::kFailed, -1, client.FailureOf(resource, fetched), {}};
  }
  // A captive portal's page or a proxy's error must not read as release 0.
  const std::optional<int32_t> version = ParseServerVersion(buffer.data(), buffer.size());
  if (!version) {
    const std::string received = PrintableStart(buffer);
    Log::Error(u"The server's version is no release number: \"%s\"", std::u16string(received.begin(), received.end()));
    return {ServerVersion::Outcome::kMalformed, -1, {}, received};
  }
  if (verifier_.enabled()) {
    ServerVersion refused;
    refused.outcome = ServerVersion::Outcome::kUnverified;
    refused.failure = unverified                        ? VerifyFailure::kMismatch
                      : *version != verifier_.release() ? VerifyFailure::kOtherRelease
                                                        : VerifyFailure::kNone;
    if (refused.failure != VerifyFailure::kNone) {
      Log::Error(u"Release not verified: %s", VerifyFailureText(refused.failure));
      return refused;
    }
    Log::Info(u"Release %d verified by its signed manifest", *version);
    verifier_.RecordVerified();
    return {ServerVersion::Outcome::kFetched, *version, {}, {}};
  }
  return {ServerVersion::Outcome::kFetched, HoldUnsignedManifest(client, context, *version), {}, {}};
}

std::string PrintableStart(const std::vector<uint8_t>& bytes, std::size_t limit) {
  std::string text;
  std::size_t at = 0;
  for (; at < bytes.size() && text.size() < limit; ++at) {
    const uint8_t byte = bytes[at];
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text.push_back(static_cast<char>(byte));
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      text += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  if (at < bytes.size()) text += "...";
  return text;
}

ListResult ServerProtocol::GetList(const OperationContext& context, int32_t clientVersion, int32_t serverVersion,
                                   FileTable* table) {
  ListResult result;
  OnSameRelease(context, serverVersion, [&](UpdateServerClient& client) {
    table->clear();
    result = ListFrom(client, context, clientVersion, serverVersion, table);
    return result.outcome == ListResult::Outcome::kLoaded || result.outcome == ListResult::Outcome::kCancelled;
  });
  return result;
}

ListResult ServerProtocol::ListFrom(UpdateServerClient& client, const OperationContext& context, int32_t clientVersion,
                                    int32_t serverVersion, FileTable* table) {
  const int64_t behind = int64_t{serverVersion} - clientVersion;
  ListResult result;
  result.resource = u"list_";
  for (char c : std::to_string(behind)) result.resource.push_back(static_cast<char16_t>(c));
  std::vector<uint8_t> buffer;
  const FetchResult fetched = FetchList(client, context, &result, &buffer);
  if (!fetched.complete()) {
    if (result.outcome == ListResult::Outcome::kFetchFailed)
      Log::Error(u"GetList receved(%d) != data.size(%d)", fetched.received, static_cast<int32_t>(fetched.declared));
    return result;
  }
  if (buffer.empty()) {
    Log::Error(u"GetList data.size == 0");
    result.outcome = ListResult::Outcome::kEmpty;
    return result;
  }
  if (!ReadFileList(buffer.data(), buffer.size(), table, context)) {
    Log::Error(u"ReadList");
    result.outcome = ListResult::Outcome::kUnreadable;
    return result;
  }
  result.outcome = context.cancelled() ? ListResult::Outcome::kCancelled : ListResult::Outcome::kLoaded;
  result.version = serverVersion;
  return result;
}

ListResult ServerProtocol::GetFullList(const OperationContext& context, int32_t serverVersion, FileTable* table) {
  ListResult result;
  OnSameRelease(context, serverVersion, [&](UpdateServerClient& client) {
    table->clear();
    result = FullListFrom(client, context, serverVersion, table);
    return result.outcome == ListResult::Outcome::kLoaded || result.outcome == ListResult::Outcome::kCancelled;
  });
  return result;
}

ListResult ServerProtocol::FullListFrom(UpdateServerClient& client, const OperationContext& context,
                                        int32_t serverVersion, FileTable* table) {
  ListResult result;
  result.resource = u"fulllist";
  std::vector<uint8_t> buffer;
  const FetchResult fetched = FetchList(client, context, &result, &buffer);
  if (!fetched.complete()) {
    if (result.outcome == ListResult::Outcome::kFetchFailed)
      Log::Error(u"GetFile data.size(%d) != receved(%d)", static_cast<int32_t>(fetched.declared), fetched.received);
    return result;
  }
  if (buffer.size() < 4) {
    Log::Error(u"GetFile data.size(%d) < 4", static_cast<int32_t>(buffer.size()));
    result.outcome = ListResult::Outcome::kUnreadable;
    return result;
  }
  const auto version = static_cast<int32_t>(LoadLeU32(buffer.data()));
  // Recorded after a check, another release would stay the client's version for good.
  if (version != serverVersion) {
    Log::Error(u"The full list is of release %d, the server's version is %d", version, serverVersion);
    result.outcome = ListResult::Outcome::kOtherRelease;
    result.version = version;
    return result;
  }
  if (!ReadFileList(buffer.data() + 4, buffer.size() - 4, table, context)) {
    Log::Error(u"ReadList");
    result.outcome = ListResult::Outcome::kUnreadable;
    return result;
  }
  result.outcome = context.cancelled() ? ListResult::Outcome::kCancelled : ListResult::Outcome::kLoaded;
  result.version = version;
  return result;
}

FetchResult ServerProtocol::FetchList(UpdateServerClient& client, const OperationContext& context, ListResult* result,
                                      std::vector<uint8_t>* buffer, bool optional) {
  bool unverified = false;
  const FetchResult fetched =
      FetchVerified(client, result->resource, buffer, context, kMaxListLength, &unverified, optional);
  if (fetched.complete()) {
    if (!unverified) return fetched;
    result->outcome = ListResult::Outcome::kUnverified;
    // Counted as not whole: nothing of it is read.
    FetchResult refused = fetched;
    refused.failure = FetchFailure::kFailed;
    return refused;
  }
  // A cancel that ended the fetch is no failure of the server's.
  if (context.cancelled()) {
    result->outcome = ListResult::Outcome::kCancelled;
  } else {
    result->outcome = ListResult::Outcome::kFetchFailed;
    result->request = client.FailureOf(result->resource, fetched);
  }
  return fetched;
}

PatchChoice ServerProtocol::FindPatchPackage(const OperationContext& context, int32_t clientVersion,
                                             int32_t serverVersion) {
  PatchChoice choice;
  OnSameRelease(context, serverVersion, [&](UpdateServerClient& client) {
    choice = PatchPackageFrom(client, context, clientVersion, serverVersion);
    return (choice.request.failure == FetchFailure::kNone && !choice.unverified) || context.cancelled();
  });
  return choice;
}

PatchChoice ServerProtocol::PatchPackageFrom(UpdateServerClient& client, const OperationContext& context,
                                             int32_t clientVersion, int32_t serverVersion) {
  PatchChoice choice;
  const std::u16string resource = u"patches\\list";
  std::vector<uint8_t> buffer;
  const FetchResult fetched =
      FetchVerified(client, resource, &buffer, context, kMaxPatchListLength, &choice.unverified);
  if (choice.unverified) return choice;
  if (!fetched.complete()) {
    if (!context.cancelled()) {
      Log::Error(u"Can't get file from server: %s", resource);
      choice.request = client.FailureOf(resource, fetched);
    }
    return choice;
  }
  std::size_t beyondServer = 0;
  choice.url = ChoosePatchPackage(buffer.data(), buffer.size(), clientVersion, serverVersion, &choice.from, &choice.to,
                                  &beyondServer);
  if (beyondServer > 0)
    Log::Info(u"Update packages beyond the server's version %d not taken: %u", serverVersion,
              static_cast<uint32_t>(beyondServer));
  return choice;
}

ServerProtocol::PackageCheck ServerProtocol::CheckPackageFile(const OperationContext& context,
                                                              const std::u16string& path) {
  if (!verifier_.enabled()) return PackageCheck::kNotChecked;
  FailedRequest request;
  const VerifyFailure failure = verifier_.Load(client(), context, &request);
  if (failure != VerifyFailure::kNone) {
    Log::Error(u"Update package %s not verified: %s", path, VerifyFailureText(failure));
    return PackageCheck::kNoManifest;
  }
  uint64_t length = 0;
  Sha256Digest digest{};
  if (FileSha256(path, &length, &digest) && verifier_.Lists(length, digest)) {
    Log::Info(u"Update package %s verified by release %d", path, verifier_.release());
    return PackageCheck::kVerified;
  }
  Log::Error(u"Update package %s is named by no signed release", path);
  return PackageCheck::kNotListed;
}

int32_t ServerProtocol::FetchPatcherVersion(const OperationContext& context) {
  // Asked for at start-up, before the server's version: the manifest comes first then.
  if (verifier_.enabled() && verifier_.release() == 0) {
    FailedRequest request;
    const VerifyFailure failure = verifier_.Load(client(), context, &request);
    if (failure != VerifyFailure::kNone) {
      Log::Error(u"Release not verified: %s", VerifyFailureText(failure));
      return -1;
    }
  }
  std::vector<uint8_t> received;
  bool unverified = false;
  if (!FetchVerified(client(), u"patcher_version_new", &received, context, kMaxNumberLength, &unverified).complete() ||
      unverified) {
    Log::Error(u"Can't load file from server: %s\n", u"launcher version");
    return -1;
  }
  if (received.empty()) return 0;
  return ScanDecimal(received.data(), received.size());
}

ListResult ServerProtocol::GetProgramList(const OperationContext& context, std::u16string_view part,
                                          std::vector<ListEntry>* entries) {
  ListResult result;
  result.resource = std::u16string(part) + u"\\list";
  entries->clear();
  std::vector<uint8_t> buffer;
  // Servers of the original format have no lists of the updater's own files.
  const FetchResult fetched = FetchList(client(), context, &result, &buffer, true);
  if (!fetched.complete()) {
    if (result.outcome == ListResult::Outcome::kFetchFailed && result.request.status != 404)
      Log::Error(u"Can't load file from server: %s", result.resource);
    return result;
  }
  std::string why;
  if (!DecodeFullList(buffer, &result.version, entries, &why)) {
    Log::Error(u"The list %s is unreadable: %s", result.resource, std::u16string(why.begin(), why.end()));
    entries->clear();
    result.outcome = ListResult::Outcome::kUnreadable;
    return result;
  }
  result.outcome = ListResult::Outcome::kLoaded;
  return result;
}
