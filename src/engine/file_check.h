#pragma once
// The file check: every entry of the file table is brought into the state the list
// describes, fetching from the server only what differs ("files\" + the path), one entry
// after the other in the table's order. Entries leave the table as they are handled, so a
// pass that stopped resumes with the entries left.

#include <cstdint>
#include <optional>
#include <string>

#include "archive/package_result.h"
#include "base/operation_context.h"
#include "engine/disk_space.h"
#include "engine/entry_pass.h"
#include "formats/file_list.h"
#include "net/fetch_result.h"

class ClientArchives;
class ClientLayout;
class ServerProtocol;

struct CheckResult {
  enum class Outcome {
    kDone,            // every entry is as listed
    kCancelled,       // the entries left stay for a later pass
    kDownloadFailed,  // an entry's download failed or did not match the list
    kArchiveFailed,   // an archive is not open, or refused the data
    kFileFailed,      // a plain file could not be written
    kBadPath,         // the list names a path that could leave the client folder
    kConflict,        // the list names one file twice, as two contents
  };
  Outcome outcome = Outcome::kDone;
  // The entry the pass stopped at (kConflict: the second of the two).
  std::u16string path;
  // kDownloadFailed: the download (its failure kNone when it came whole but did not match).
  FailedRequest request;
  // kArchiveFailed: the archive's name and what it said (kNotOpen when it is not open).
  std::u16string archive;
  PackageResult archiveResult = PackageResult::kOk;
  // kFileFailed: the file's full path.
  std::u16string file;
  // kArchiveFailed, kFileFailed: set when the disk had no room for it.
  std::optional<DiskShortage> diskFull;
  // Files the pass wrote into the client (downloaded because they differed).
  int32_t filesStored = 0;

  bool done() const { return outcome == Outcome::kDone; }
};

class FileCheck {
 public:
  // All must outlive the check.
  FileCheck(ClientArchives& archives, const ClientLayout& layout, ServerProtocol& server);

  // The table the next pass works through.
  void Load(FileTable table) { table_ = std::move(table); }
  // The entries not handled yet.
  const FileTable& entriesLeft() const { return table_; }

  // A pass over the table; each entry is an item of the context's progress (a resumed pass
  // goes on counting where the last one stopped).
  CheckResult Run(const OperationContext& context, const PassSettings& settings, bool resume);

 private:
  ClientArchives& archives_;
  const ClientLayout& layout_;
  ServerProtocol& server_;
  FileTable table_;
};
