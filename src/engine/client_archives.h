#pragma once
// The client's fifteen archives and its local version: opening them (a missing or damaged one
// is made afresh), saving their changed indexes, the version each of them and the client
// version file hold, and a lock per archive for the threads of a file check or a package.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"
#include "base/operation_context.h"
#include "engine/client_layout.h"
#include "engine/disk_space.h"

// An archive that could be neither opened nor made afresh.
struct ArchiveFailure {
  std::u16string name;
  // Its first file (".pck").
  std::u16string path;
  PackageResult opened = PackageResult::kOk;
  PackageResult created = PackageResult::kOk;
  // The system's error (errno value) of the last attempt on the file; 0 when the file opened.
  int fileError = 0;
  // A folder stands where the file should be.
  bool folderInPlace = false;
};

struct OpenResult {
  // In archive order; empty when all fifteen are open.
  std::vector<ArchiveFailure> failed;
  // A link inside the client root on the way to a file the updater writes: nothing was
  // opened, and the client is refused until the link is gone.
  std::u16string link;

  bool allOpen() const { return failed.empty() && link.empty(); }
};

// What storing the version or saving the archives came to.
struct WriteResult {
  enum class Outcome {
    kWritten,
    kArchiveFailed,       // an archive's index could not be saved
    kVersionEntryFailed,  // an archive refused the version entry
    kVersionFileFailed,   // the version file could not be written
  };
  Outcome outcome = Outcome::kWritten;
  // The archive (its files without extension) or the version file that could not be written.
  std::u16string path;
  // Set when the disk had no room for it.
  std::optional<DiskShortage> diskFull;
  // kVersionFileFailed: a folder stands where the version file should be.
  bool folderInPlace = false;

  bool written() const { return outcome == Outcome::kWritten; }
};

class ClientArchives {
 public:
  // `layout` must outlive the archives.
  explicit ClientArchives(const ClientLayout& layout);
  // Releases the archives without writing: changes not saved by now are cut away at the next open.
  ~ClientArchives();
  ClientArchives(const ClientArchives&) = delete;
  ClientArchives& operator=(const ClientArchives&) = delete;

  // Opens all fifteen (each an item of the context's progress); a missing or damaged one is
  // made afresh holding only the version entry "0". Nothing is opened when a link stands on
  // the way to any file the updater writes.
  OpenResult Open(const OperationContext& context);
  // Writes every changed index, then a version stored by WriteLocalVersion into the version
  // file. When any of that fails (a full disk) the result names what, with an ERROR line: the
  // version file is then left as it was, and an archive that was not saved keeps its changes
  // for the next save.
  WriteResult Save(const OperationContext& context);
  // The smallest of the version file (or the version waiting to go into it) and every
  // archive's version entry; 0 whenever any of them is missing or outside 0..kMaxVersion.
  int32_t ReadLocalVersion();
  // Stores the version in every archive. The version file is written last, once the archives
  // hold the version on disk: at once when no archive has unsaved changes, else by Save. So a
  // version is never recorded for changes that did not reach the disk.
  WriteResult WriteLocalVersion(int32_t version);
  // Closes every archive; each writes its changed index as it closes.
  void CloseAll();

  // The open archive of exactly this name, or null.
  TavrinFilePackage* Find(std::u16string_view name);
  // Held around every use of the archive kArchiveNames[nameIndex] while a file check or a
  // package runs: its targets are read on other threads while one stores.
  std::mutex& LockOf(std::size_t nameIndex) { return locks_[nameIndex]; }
  bool allOpen() const { return archives_.size() == kArchiveNames.size(); }
  // Whether some open archive has changes not saved yet.
  bool hasUnsavedChanges() const;

 private:
  // Writes the version file; a failure is logged.
  WriteResult WriteVersionFile(int32_t version);
  // The failure of an archive write, with the shortage when the disk was full (logged).
  WriteResult ArchiveFailure(WriteResult::Outcome outcome, const char16_t* logFormat, const TavrinFilePackage& archive,
                             PackageResult result) const;

  const ClientLayout& layout_;
  // Open archives in kArchiveNames order; names whose archive failed are missing.
  std::vector<std::unique_ptr<TavrinFilePackage>> archives_;
  // The version WriteLocalVersion stored in the archives, to go into the version file once
  // they are saved.
  std::optional<int32_t> pendingVersion_;
  std::array<std::mutex, kArchiveNames.size()> locks_;
};
