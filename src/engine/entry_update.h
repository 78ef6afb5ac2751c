#pragma once
// The one way an entry of a file list or of an update package is brought into the state
// it names, for the file check and the package alike: a path that begins with an
// archive's name is an entry of that archive, any other a plain file under the client
// folder; a deletion removes it; otherwise, unless the target already holds the listed
// content, the new content comes from a source (the server, or the package), is checked
// against the list and only then stored. The two operations differ only in their source
// and in the codes they report.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/stored_content.h"
#include "engine/target_check.h"

class ClientArchiveSet;

// Where the new content of an entry comes from. Entries are named by their place in the
// list the pass works through, and by the entry itself.
class ContentSource {
 public:
  virtual ~ContentSource() = default;
  // The stored form whole, for an archive, which keeps it as it is; checked against the
  // entry where the source had not checked it before. False, logged, when it cannot be
  // had or is not right.
  virtual bool Stored(std::size_t index, const ListedEntry& entry, std::span<const uint8_t>* stored) = 0;
  // Gets the stored form ready for Content (a download); false when it cannot be had.
  virtual bool Prepare(std::size_t index, const ListedEntry& entry) = 0;
  // After Prepare: checks the stored form against the entry, handing the content to
  // `sink` piece by piece (null: check only). May run more than once for one entry.
  virtual bool Content(std::size_t index, const ListedEntry& entry, const StoredContent::Sink& sink) = 0;
  // Logs that the content for the entry could not be had or was not right.
  virtual void ReportWrongContent(std::size_t index, const ListedEntry& entry) = 0;
};

// The results an operation reports for the ways an entry can fail.
struct EntryErrors {
  int32_t wrongContent;  // the new content could not be had or was not right
  int32_t archive;       // the archive is not open, or it refused the stored bytes
  int32_t plainFile;     // the plain file could not be written
};

class EntryUpdate {
 public:
  // Not an error: a cancel broke the entry off, and it is left for a later run.
  static constexpr int32_t kBrokenOff = 1;

  EntryUpdate(ClientArchiveSet& set, ContentSource& source, EntryErrors errors);

  // 0 when the entry is handled. `known` is what a check made ahead found of the target;
  // kUnknown has it checked here.
  int32_t Run(std::size_t index, const ListedEntry& entry, TargetState known);

 private:
  int32_t Archived(std::size_t index, const ListedEntry& entry, TargetState known);
  int32_t Plain(std::size_t index, const ListedEntry& entry, TargetState known);
  TargetState Checked(const ListedEntry& entry, TargetState known);

  ClientArchiveSet& set_;
  ContentSource& source_;
  const EntryErrors errors_;
  TargetCheck check_;
};
