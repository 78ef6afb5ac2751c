#pragma once
// Applying an update package file: its header and whole index are read and judged, every
// record's content is checked against its size and digest (on every check thread), and only
// then are the records applied one after the other, each like an entry of the file check
// with the package as the source, while worker threads make the next ones ready (see
// RecordPass). A package applied in full records its target version.

#include <cstdint>
#include <optional>
#include <string>

#include "archive/package_result.h"
#include "base/operation_context.h"
#include "engine/client_archives.h"
#include "engine/disk_space.h"
#include "engine/entry_pass.h"

class BusyFlag;
class ClientLayout;

struct ApplyResult {
  enum class Outcome {
    kApplied,        // every record applied and the target version stored (a save records it)
    kCancelled,      // records are left unapplied: no version is recorded for them
    kCannotOpen,     // the file cannot be opened
    kDamaged,        // no update package, or a damaged one: nothing was applied
    kVersionTooLow,  // the client is below the package's minimum version
    kNotNewer,       // the package leads to the client's version or below it, or beyond any release
    kArchiveFailed,  // an archive is not open, or refused the data
    kFileFailed,     // a plain file could not be written
    kVersionFailed,  // every record applied, but the target version could not be stored
    kUnverified,     // with release keys: a package from disk that no signed release names, or one
                     // that could not be checked and was not taken unchecked
  };
  Outcome outcome = Outcome::kApplied;
  // The package file.
  std::u16string package;
  // kDamaged: the record that is wrong (a name that could leave the client folder, content
  // that does not match), empty when the header or the index is.
  std::u16string record;
  // kVersionTooLow, kNotNewer: the package's minimum and the client's version.
  int32_t minimumVersion = 0;
  int32_t clientVersion = 0;
  // The version the package leads to.
  int32_t targetVersion = 0;
  // kArchiveFailed: the archive's name and what it said.
  std::u16string archive;
  PackageResult archiveResult = PackageResult::kOk;
  // kFileFailed: the file's full path.
  std::u16string file;
  // kArchiveFailed, kFileFailed: set when the disk had no room for it.
  std::optional<DiskShortage> diskFull;
  // kVersionFailed: what storing the version came to.
  WriteResult version;
  // Files the package changed in the client.
  int32_t filesStored = 0;

  bool applied() const { return outcome == Outcome::kApplied; }
  // The file is no package this client can take: another one is to be chosen.
  bool wrongFile() const {
    return outcome == Outcome::kCannotOpen || outcome == Outcome::kDamaged || outcome == Outcome::kVersionTooLow ||
           outcome == Outcome::kNotNewer;
  }
  // Writing into the client failed: a retry may succeed once there is room.
  bool writeFailed() const {
    return outcome == Outcome::kArchiveFailed || outcome == Outcome::kFileFailed || outcome == Outcome::kVersionFailed;
  }
  // The shortage of the write that failed, when the disk had no room for it.
  const std::optional<DiskShortage>& shortage() const {
    return outcome == Outcome::kVersionFailed ? version.diskFull : diskFull;
  }
};

// Short English words for the outcome, for log lines.
const char16_t* ApplyOutcomeText(ApplyResult::Outcome outcome);

// Applies the package at `path`. `busy` is raised once the file is open, and dropped after
// it is closed again. `expectedTarget`: the version the package must lead to (a package
// named in "patches\list" for a pair of versions); another is refused as damaged.
ApplyResult ApplyPackage(ClientArchives& archives, const ClientLayout& layout, BusyFlag& busy,
                         const PassSettings& settings, const OperationContext& context, const std::u16string& path,
                         std::optional<int32_t> expectedTarget = std::nullopt);
