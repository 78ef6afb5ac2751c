#pragma once
// A client data folder as the updater sees it: the fifteen archives and the plain files
// beside them. Listing checks every name first, so that nothing is published from a
// folder the updater could not reproduce.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "archive/tavrin_file_package.h"

// An archive's "version.sw" entry, the updater's copy of the client version.
struct ArchiveVersion {
  std::size_t archive = 0;  // index into kArchiveNames
  bool present = false;
  std::string text;  // the entry's bytes
};

struct ClientFile {
  std::u16string name;  // the list name: full entry name or "\"-separated relative path
  int archive = -1;     // index into kArchiveNames, -1 for a plain file
  std::filesystem::path plainPath;
};

class ClientFolder {
 public:
  // Opens the archives and lists every file, sorted by name within each archive and among
  // the plain files. Each problem is reported on its own line; false when there was any.
  // Hidden plain files and folders (a name starting with "."), system litter (Thumbs.db,
  // desktop.ini, .DS_Store) and publish's own temporary files are left out, each with a note.
  bool Open(const std::filesystem::path& folder, std::vector<ClientFile>* files);
  // The version entries of the archives that opened, after Open.
  const std::vector<ArchiveVersion>& versions() const { return versions_; }
  // The file's contents; false with the reason. Safe to call from several threads at once:
  // reads from one archive take turns, since an archive has one file position.
  bool Read(const ClientFile& file, std::vector<uint8_t>* contents, std::string* why);

 private:
  bool ListArchive(std::size_t archive, std::vector<ClientFile>* files);
  bool ListPlainFiles(std::vector<ClientFile>* files);

  std::filesystem::path folder_;
  std::vector<ArchiveVersion> versions_;
  std::array<std::unique_ptr<TavrinFilePackage>, 15> archives_;
  std::array<std::mutex, 15> archiveLocks_;
};
