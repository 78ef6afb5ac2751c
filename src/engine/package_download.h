#pragma once
// The update package route's download: "patches\list" read for the package of a pair of
// versions, and that package streamed into the client's temporary package file, only when the
// disk keeps room beside it for the archives to grow. A download that stopped is taken up
// from what the file holds when the next one is of the same package (see download_resume.h).

#include <cstdint>
#include <string>

#include "base/operation_context.h"
#include "net/fetch_result.h"

class ClientLayout;
class ServerProtocol;

struct PackageDownload {
  enum class Outcome {
    kDownloaded,    // the package is whole in the temporary file
    kNoPackage,     // none fits the versions, or "patches\list" could not be had (see request)
    kCannotCreate,  // the temporary file could not be made
    kNoRoom,        // the disk cannot hold it with room for the archives
    kFailed,        // the transfer failed or broke off
    kUnverified,    // with release keys: it is not the package the signed manifest names
    kCancelled,
  };
  Outcome outcome = Outcome::kNoPackage;
  // The versions the chosen package leads across; -1 when none was chosen.
  int32_t from = -1;
  int32_t to = -1;
  // The request that failed: the list's or the package's.
  FailedRequest request;
  // The download stopped with what came kept for a later run to take up.
  bool resumable = false;

  bool downloaded() const { return outcome == Outcome::kDownloaded; }
};

// Room the disk must keep beside a downloaded package: the archives grow and are saved
// after it is applied.
inline constexpr uint64_t kPackageDiskReserve = 64u * 1024 * 1024;

// Every way out but a download leaves a log line: the file list then does the work.
PackageDownload DownloadPatchPackage(ServerProtocol& server, const ClientLayout& layout,
                                     const OperationContext& context, int32_t clientVersion, int32_t serverVersion);
