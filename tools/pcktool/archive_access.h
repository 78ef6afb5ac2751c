#pragma once
// Finding, opening and committing the archive a command works on.

#include <string>
#include <vector>

#include "archive/tavrin_file_package.h"

struct ArchiveLocation {
  std::u16string basePath;  // the path without ".pck"
  std::u16string name;      // the file's base name, e.g. "configs" for data/configs.pck
  std::u16string pckPath() const { return basePath + u".pck"; }
};

// ARCHIVE as given on the command line, with or without ".pck".
ArchiveLocation LocateArchive(const std::u16string& argument);

// Opens an existing archive; a failure is reported with its code and nothing is created.
// As with every open, bytes after the archive's last commit are cut away.
bool OpenArchive(const ArchiveLocation& location, const std::u16string& name, TavrinFilePackage* archive);

// Writes the index and closes the archive; a failed commit is reported.
bool CommitArchive(const ArchiveLocation& location, TavrinFilePackage* archive);

struct ListedEntry {
  std::string name;  // the full name as stored, in UTF-8, control characters shown as "?"
  std::u16string fullName;
  const TavrinFilePackage::EntryRecord* record;
};

// Every entry of the index, sorted by full name (UTF-8 byte order).
std::vector<ListedEntry> SortedEntries(const TavrinFilePackage& archive);
