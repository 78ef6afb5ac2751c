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

// ARCHIVE as given on the command line: with ".pck" or ".pkx" (either file of the pair),
// or without an extension. False, reported, for a name with any other extension, which
// names some other file ("readme.txt" is not made "readme.txt.pck").
bool LocateArchive(const std::u16string& argument, ArchiveLocation* location);

// Opens an existing archive for reading only: nothing in its files changes, and bytes
// an interrupted write left after the last commit are reported, not cut.
bool OpenArchiveToRead(const ArchiveLocation& location, TavrinFilePackage* archive);
// Opens an existing archive to change it. Like every open for writing (the updater's too)
// this cuts what an interrupted write left after the last commit, which is reported.
// A failure is reported and nothing is created.
bool OpenArchiveToWrite(const ArchiveLocation& location, const std::u16string& name, TavrinFilePackage* archive);

// Writes the index and closes the archive; a failed commit is reported.
bool CommitArchive(const ArchiveLocation& location, TavrinFilePackage* archive);

struct SortedEntry {
  std::string name;  // the full name as stored, in UTF-8, control characters shown as "?"
  std::u16string fullName;
  const TavrinFilePackage::EntryRecord* record;
};

// Every entry of the index, sorted by full name (UTF-8 byte order).
std::vector<SortedEntry> SortedEntries(const TavrinFilePackage& archive);

// The words for an archive that would not open: why, for the operator.
std::string OpenFailureText(const ArchiveLocation& location, PackageResult result);
