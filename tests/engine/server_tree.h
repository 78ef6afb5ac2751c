#pragma once
// Writes an update server's file tree for the engine tests, in the formats the updater
// reads: "version", change lists, "fulllist", stored files under "files", the patch
// list and update packages.
//
// Server paths use "\" like the updater's requests. libcurl sends the "\" literally and
// nginx then looks for a file whose name holds the "\"; WinINet turns every "\" into "/"
// first. So on POSIX every file is written twice, in ordinary folders and under its
// literal name (a hard link), and the same tree serves both clients.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/md5.h"

namespace testsupport {

// One file as a list or a package describes it.
struct ListedFile {
  std::u16string name;
  std::string content;
  // Stored as a zlib stream (when that is shorter) or raw.
  bool compress = true;
  // A deletion entry: size 0xFFFFFFFF.
  bool remove = false;
};

struct ListEntry {
  std::u16string name;
  platform::Md5Digest digest{};
  uint32_t size = 0;
  uint32_t storedSize = 0;
};

platform::Md5Digest Md5Of(const std::string& content);
// The stored form: a zlib stream when compressing helps and is asked for, else the content.
std::vector<uint8_t> StoredForm(const std::string& content, bool compress);
ListEntry EntryOf(const ListedFile& file);
std::vector<uint8_t> FileListBytes(const std::vector<ListEntry>& entries);

// A package with the files' stored bytes after the header and the index at the end.
std::vector<uint8_t> PackageBytes(int32_t minimumVersion, int32_t targetVersion, const std::vector<ListedFile>& files);
// Offset of the record count and of the first record, for tests that damage a package.
uint32_t PackageIndexOffset(const std::vector<uint8_t>& package);

class ServerTree {
 public:
  explicit ServerTree(std::filesystem::path root) : root_(std::move(root)) {}

  // `serverPath` uses "\" between folders, as requested.
  void Put(const std::u16string& serverPath, const std::vector<uint8_t>& bytes) const;
  void PutText(const std::u16string& serverPath, const std::string& text) const;
  void PutVersion(int32_t version) const;
  // "list_" + behind, and the stored form of every listed file that is not a deletion.
  void PutChangeList(int32_t behind, const std::vector<ListedFile>& files) const;
  void PutFullList(int32_t version, const std::vector<ListedFile>& files) const;
  void PutStoredFiles(const std::vector<ListedFile>& files) const;
  // "release.manifest" of `release` over the resources named (as requested, "\" between
  // folders) as they stand in the tree now, and with a secret key its "release.manifest.sig".
  // A name may be a package URL with the tree's file of it: {url, serverPath}.
  struct ManifestEntry {
    std::string name;
    std::u16string serverPath;
  };
  void PutReleaseManifest(int32_t release, int64_t expires, const std::vector<ManifestEntry>& resources,
                          const std::array<uint8_t, 64>* secretKey) const;
  // The chunk index of `content` and the stored form of each of its chunks, as publish writes
  // them; gives the index's resource name.
  std::u16string PutChunks(const std::string& content) const;
  // Removes everything under the root.
  void Clear() const;

 private:
  std::filesystem::path root_;
};

}  // namespace testsupport
