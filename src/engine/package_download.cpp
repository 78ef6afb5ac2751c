#include "engine/package_download.h"

#include <algorithm>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "engine/client_layout.h"
#include "engine/download_resume.h"
#include "engine/server_protocol.h"
#include "net/parse_url.h"
#include "platform/file.h"

namespace {

uint32_t WholeMebibytes(uint64_t bytes, bool roundUp) {
  const uint64_t mebibytes = (bytes + (roundUp ? (1u << 20) - 1 : 0)) >> 20;
  return static_cast<uint32_t>(std::min<uint64_t>(mebibytes, UINT32_MAX));
}

// The package file opened to take up a download an earlier run left, when it was of the same
// package and holds part of it; otherwise nothing is opened and the record goes.
BodyResume ResumableDownload(const ClientLayout& layout, const std::u16string& url, platform::File* file) {
  const BodyResume resume = TakeUpDownload(layout.packageResumeFile(), layout.packageFile(), url, file);
  if (resume.usable())
    Log::Info(u"Taking up the download of the update package %s: %u of %u bytes are there", url, resume.received,
              resume.declared);
  return resume;
}

}  // namespace

PackageDownload DownloadPatchPackage(ServerProtocol& server, const ClientLayout& layout,
                                     const OperationContext& context, int32_t clientVersion, int32_t serverVersion) {
  PackageDownload download;
  const PatchChoice choice = server.FindPatchPackage(context, clientVersion, serverVersion);
  download.from = choice.from;
  download.to = choice.to;
  if (choice.url.empty()) {
    Log::Info(u"No update package from version %d to %d", clientVersion, serverVersion);
    // Part of a package no longer offered is of no use: it goes (a package put there by hand
    // has no record and stays).
    if (!context.cancelled() && choice.request.failure == FetchFailure::kNone &&
        ReadDownloadResumeRecord(layout.packageResumeFile())) {
      platform::RemoveFile(layout.packageFile());
      platform::RemoveFile(layout.packageResumeFile());
    }
    download.outcome =
        context.cancelled() ? PackageDownload::Outcome::kCancelled : PackageDownload::Outcome::kNoPackage;
    download.request = choice.request;
    return download;
  }
  const UrlParts parts = ParseUrl(choice.url);
  // Scheme, port and query are not used: packages come over plain HTTP from the path.
  UpdateServerClient::FileFetch fetch;
  fetch.host = parts.host;
  const std::u16string& packageFile = layout.packageFile();
  const std::u16string folder = ParentFolder(packageFile);
  const std::u16string& resumeFile = layout.packageResumeFile();
  FetchResult fetched;
  UpdateServerClient* used = &server.client();
  uint64_t available = 0;
  bool complete = false;
  bool opened = false;
  {
    // A client folder made by hand may lack the folder of the temporary file.
    platform::MakeDirectories(folder);
    platform::File file;
    fetch.resume = ResumableDownload(layout, choice.url, &file);
    if (fetch.resume.usable() || file.Open(packageFile, platform::FileMode::kCreate) == 0) {
      opened = true;
      // Measured once the old package is gone; a package that leaves the disk without
      // room for the archives to grow is not fetched at all (what is there already counts).
      // Unknown counts as room: a disk that has none then shows as a failed write.
      available = platform::AvailableDiskSpace(folder).value_or(UINT64_MAX);
      if (available != UINT64_MAX) available += fetch.resume.received;
      const uint64_t room = available > kPackageDiskReserve ? available - kPackageDiskReserve : 0;
      fetch.maxLength = static_cast<uint32_t>(std::min<uint64_t>(room, UpdateServerClient::kMaxFileLength));
      // Kept as the body starts, so that a run cut short any time later can take it up.
      fetch.started = [&](uint32_t length, const std::string& validator) {
        if (validator.empty() || !WriteDownloadResumeRecord(resumeFile, {choice.url, length, validator}))
          platform::RemoveFile(resumeFile);
      };
      // A package on the update server may come from any of its mirrors, each tried from
      // the start when the one before failed.
      ServerMirrors& mirrors = server.mirrors();
      const std::size_t first = mirrors.current();
      const bool mirrored = parts.host.empty() || parts.host == mirrors.address(first).host;
      if (mirrored) fetch.host.clear();
      for (std::size_t tried = 0;; ++tried) {
        used = &mirrors.at((first + tried) % mirrors.count());
        fetched = used->FetchToFile(parts.path, file, fetch, context);
        // A transfer that broke off would leave a package cut short: not worth applying.
        complete = fetched.complete() && file.Flush();
        if (complete || !mirrored || tried + 1 == mirrors.count() || context.cancelled() ||
            fetched.failure == FetchFailure::kCancelled || fetched.failure == FetchFailure::kTooLarge)
          break;
        fetch.resume = {};
        if (file.Open(packageFile, platform::FileMode::kCreate) != 0) break;
        Log::Info(u"Update package %s: asked for from the next server", parts.path);
      }
    }
  }
  if (complete) platform::RemoveFile(resumeFile);
  // What came stays for the next run when the server named the body it came from.
  download.resumable = !complete && opened && fetched.received > 0 && platform::FileExists(resumeFile);
  if (complete && server.verifier().enabled()) {
    // Signed releases: only the package the manifest names, byte for byte, is applied.
    uint64_t length = 0;
    Sha256Digest digest{};
    const std::u16string& url = choice.url;
    if (!FileSha256(packageFile, &length, &digest) ||
        !server.verifier().Matches(std::string(url.begin(), url.end()), length, digest)) {
      Log::Error(u"Update package %s: %s", url, VerifyFailureText(VerifyFailure::kMismatch));
      platform::File emptied;
      emptied.Open(packageFile, platform::FileMode::kCreate);
      download.outcome = PackageDownload::Outcome::kUnverified;
      return download;
    }
  }
  if (complete) {
    download.outcome = PackageDownload::Outcome::kDownloaded;
    return download;
  }
  const bool noRoom =
      fetched.failure == FetchFailure::kTooLarge && fetched.declared <= UpdateServerClient::kMaxFileLength;
  if (noRoom) {
    // A package sent without a length passed the room there is.
    const uint64_t needed = fetched.declared > 0 ? fetched.declared : uint64_t{fetch.maxLength} + 1;
    Log::Error(
        u"Not enough disk space for the update package %s: it needs %u MiB with room for the archives, %u MiB are free "
        u"in %s",
        parts.path, WholeMebibytes(needed + kPackageDiskReserve, true), WholeMebibytes(available, false), folder);
  }
  if (!opened) {
    Log::Error(u"Can't create file %s", packageFile);
    download.outcome = PackageDownload::Outcome::kCannotCreate;
  } else if (noRoom) {
    download.outcome = PackageDownload::Outcome::kNoRoom;
  } else if (fetched.failure == FetchFailure::kCancelled || context.cancelled()) {
    download.outcome = PackageDownload::Outcome::kCancelled;
  } else {
    Log::Error(u"Can't get file from server: %s", parts.path);
    download.outcome = PackageDownload::Outcome::kFailed;
  }
  download.request = used->FailureOf(parts.path, fetched, parts.host);
  return download;
}
