#pragma once
// The one way an entry of a file list or of an update package is brought into the state
// it names, for the file check and the package alike: a path that begins with an
// archive's name is an entry of that archive, any other a plain file under the client
// folder; a deletion removes it; otherwise, unless the target already holds the listed
// content, the new content comes from a source (the server, or the package), is checked
// against the list and only then stored. The two operations differ only in their source.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/package_result.h"
#include "archive/tavrin_file_package.h"
#include "base/operation_context.h"
#include "engine/disk_space.h"
#include "engine/stored_content.h"
#include "engine/target_check.h"

class ClientArchives;
class ClientLayout;

// The stored form of an entry for an archive, which keeps it as it is: its length, and its
// bytes handed out piece by piece as the archive writes them. A piece that cannot be had
// fails the store; the source has logged why.
struct StoredForm {
  uint32_t length = 0;
  TavrinFilePackage::StoredPieces pieces;
};

// Where the new content of an entry comes from. Entries are named by their place in the
// list the pass works through, and by the entry itself.
class ContentSource {
 public:
  virtual ~ContentSource() = default;
  // The stored form, for an archive; checked against the entry where the source had not
  // checked it before. False, logged, when it cannot be had or is not right.
  virtual bool Stored(std::size_t index, const ListEntry& entry, StoredForm* stored) = 0;
  // Gets the stored form ready for Content (a download); false when it cannot be had.
  virtual bool Prepare(std::size_t index, const ListEntry& entry) = 0;
  // After Prepare: checks the stored form against the entry, handing the content to
  // `sink` piece by piece (null: check only). May run more than once for one entry.
  virtual bool Content(std::size_t index, const ListEntry& entry, const StoredContent::Sink& sink) = 0;
  // Logs that the content for the entry could not be had or was not right.
  virtual void ReportWrongContent(std::size_t index, const ListEntry& entry) = 0;
  // After Prepare could not get it or Content found it not right: gets the stored form ready once
  // more, past caches that may have kept an old copy; false when there is nothing to try again.
  virtual bool Retry(std::size_t /*index*/, const ListEntry& /*entry*/) { return false; }
};

// What handling one entry came to.
struct EntryOutcome {
  enum class Kind {
    kDone,           // the target was as listed already, or is removed
    kStored,         // new content was stored
    kBrokenOff,      // a cancel broke the entry off; it is left for a later run
    kWrongContent,   // the new content could not be had or was not right
    kArchiveFailed,  // the archive is not open, or it refused the stored bytes
    kFileFailed,     // the plain file could not be written
  };
  Kind kind = Kind::kDone;
  // kArchiveFailed: the archive's name, and what it said (kNotOpen when it is not open).
  std::u16string archive;
  PackageResult archiveResult = PackageResult::kOk;
  // kFileFailed: the file's full path.
  std::u16string file;
  // kArchiveFailed, kFileFailed: set when the disk had no room for it.
  std::optional<DiskShortage> diskFull;

  bool handled() const { return kind == Kind::kDone || kind == Kind::kStored; }
};

// The first entry that reaches the target of an earlier one (see TargetKey) and lists it
// otherwise: no pass could leave both as listed. `inOrder`: the entries are handled in this
// order (a package's records), so a deletion may be followed by content; a file list is not
// (its table has an order of its own). None when there is none.
std::optional<std::size_t> FirstConflictingEntry(const std::vector<ListEntry>& entries, bool inOrder);

class EntryUpdate {
 public:
  // All must outlive the update; the context's cancel breaks a target check off.
  EntryUpdate(ClientArchives& archives, const ClientLayout& layout, ContentSource& source,
              const OperationContext& context);

  // `known` is what a check made ahead found of the target; kUnknown has it checked here.
  EntryOutcome Run(std::size_t index, const ListEntry& entry, TargetState known);

 private:
  EntryOutcome Archived(std::size_t archiveIndex, std::size_t index, const ListEntry& entry, TargetState known);
  EntryOutcome Plain(std::size_t index, const ListEntry& entry, TargetState known);
  TargetState Checked(const ListEntry& entry, TargetState known);

  ClientArchives& archives_;
  const ClientLayout& layout_;
  ContentSource& source_;
  TargetCheck check_;
};
