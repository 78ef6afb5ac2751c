#pragma once
// The updater's engine object: the client's fifteen package archives, its local
// version, the connection to the update server, the file table of the running
// operation and the counters and flags it shares with the window and the display.
//
// The archive side is defined in client_archive_set.cpp; the server protocol, the file
// check and the update packages in net/ (server_protocol.cpp, file_check.cpp,
// package_apply.cpp).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"
#include "net/file_list.h"
#include "net/stored_content.h"
#include "net/update_server_client.h"

class ClientArchiveSet {
 public:
  // Results of ApplyPackage beyond those of the design: a cancel that left records
  // unapplied, so the caller never records a version for them.
  static constexpr int32_t kApplyCancelled = 1;

  // `programFolder` is the updater's own folder; the client lies beside it. Connects
  // to the built-in update server, or to the given one.
  explicit ClientArchiveSet(const std::u16string& programFolder);
  ClientArchiveSet(const std::u16string& programFolder, std::u16string serverHost, uint16_t port);
  // Deletes the temporary package file; writes no index (see SaveArchives).
  ~ClientArchiveSet();
  ClientArchiveSet(const ClientArchiveSet&) = delete;
  ClientArchiveSet& operator=(const ClientArchiveSet&) = delete;

  // Archives. True when all fifteen are open; a missing or damaged one is recreated
  // holding only the version entry "0".
  bool OpenArchives();
  bool SaveArchives();
  // The smallest of the version file and every archive's version entry; 0 whenever
  // any of them is missing.
  int32_t ReadLocalVersion();
  // False only when the client version file cannot be created.
  bool WriteLocalVersion(int32_t version);
  // The open archive of exactly this name, or null.
  TavrinFilePackage* GetPackage(std::u16string_view name);

  // Server protocol. Negative results are error codes.
  int32_t FetchServerVersion();
  int32_t GetList(int32_t clientVersion, int32_t serverVersion);
  int32_t GetFullList();
  bool ReadList(const uint8_t* data, std::size_t size);
  std::u16string FindPatchPackage(int32_t clientVersion, int32_t serverVersion, int32_t& from, int32_t& to);

  // File check: 0 done (or cancelled: see cancelRequested), -1 a download failed or
  // did not match the list, -2 an archive refused the data or is not open, -3 a plain
  // file could not be written or a path was refused.
  int32_t CheckFiles(bool resume);
  int32_t ProcessFileTable();

  // Update packages. ApplyPackage: 0 every record applied and the target version
  // recorded, kApplyCancelled, -1 unusable or damaged package, -2 client below the
  // package's minimum version, -3 archive problem, -4 plain file problem.
  bool DownloadPatchPackage(int32_t clientVersion, int32_t serverVersion, int32_t& from, int32_t& to);
  int32_t ApplyPackage(const std::u16string& path);

  static constexpr const std::array<std::u16string_view, 15>& archiveNames = kArchiveNames;
  // Open archives in archiveNames order; names whose archive failed are missing.
  std::vector<std::unique_ptr<TavrinFilePackage>> archives;
  std::u16string programFolder;
  std::u16string clientFolder;
  std::u16string clientVersionPath;
  std::u16string patcherVersionPath;
  std::u16string tempFilePath;
  std::unique_ptr<UpdateServerClient> serverClient;
  FileTable fileTable;

  // Shared with the window and the progress display.
  std::atomic<int32_t> itemsTotal{0};
  std::atomic<int32_t> itemsDone{0};
  std::atomic<bool> busy{false};
  std::atomic<bool> cancelRequested{false};
  // Files written into the client by file checks and packages since construction
  // (downloaded or taken from a package because they differed), for a console's summary.
  std::atomic<int32_t> filesStored{0};

 private:
  // One entry of the file table; 0 when handled.
  int32_t ProcessEntry(const std::u16string& path, const FileInfo& info);
  int32_t ProcessArchiveEntry(const std::u16string& path, const FileInfo& info);
  int32_t ProcessPlainEntry(const std::u16string& path, const FileInfo& info);
  // Fetches "files\" + path and checks it against the list; false is logged.
  bool Download(const std::u16string& path, const FileInfo& info);
  std::u16string PlainFilePath(const std::u16string& relative) const;

  // Reused from entry to entry.
  std::vector<uint8_t> content_;
  std::vector<uint8_t> received_;
  StoredContent verified_;
};

// Folder part of a path ("a\b\c" gives "a\b"); either separator ends it.
std::u16string ParentFolder(const std::u16string& path);
