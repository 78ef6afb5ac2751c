#pragma once
// A client data folder as the updater sees it: the fifteen archives and the plain files
// beside them. Listing checks every name first, so that nothing is published from a
// folder the updater could not reproduce.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/tavrin_file_package.h"

struct ClientFile {
  std::u16string name;  // the list name: full entry name or "\"-separated relative path
  int archive = -1;     // index into kArchiveNames, -1 for a plain file
  std::filesystem::path plainPath;
};

class ClientFolder {
 public:
  // Opens the archives and lists every file, sorted by name within each archive and among
  // the plain files. Each problem is reported on its own line; false when there was any.
  bool Open(const std::filesystem::path& folder, std::vector<ClientFile>* files);
  // The file's contents; false with the reason.
  bool Read(const ClientFile& file, std::vector<uint8_t>* contents, std::string* why);

 private:
  bool ListArchive(std::size_t archive, std::vector<ClientFile>* files);
  bool ListPlainFiles(std::vector<ClientFile>* files);

  std::filesystem::path folder_;
  std::array<std::unique_ptr<TavrinFilePackage>, 15> archives_;
};
