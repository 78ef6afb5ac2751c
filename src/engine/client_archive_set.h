#pragma once
// The updater's engine object: the client's fifteen archives, its local
// version, the connection to the update server, the file table of the running
// operation and the counters and flags it shares with the window and the display.
//
// The archive side is defined in client_archive_set.cpp, the server protocol in
// server_protocol.cpp, the file check in file_check.cpp and the update packages in
// package_apply.cpp.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"
#include "formats/file_list.h"
#include "net/cancel_token.h"
#include "net/update_server_client.h"
#include "platform/file.h"

class ClientArchiveSet {
 public:
  // Results of ApplyPackage beyond those of the design: a cancel that left records
  // unapplied, so the caller never records a version for them.
  static constexpr int32_t kApplyCancelled = 1;

  // `programFolder` is the updater's own folder; the client lies beside it. Connects
  // to the built-in update server, or to the given one.
  ClientArchiveSet(const std::u16string& programFolder, const UpdateServerAddress& server);
  // Deletes the temporary package file; writes no index (see SaveArchives).
  ~ClientArchiveSet();
  ClientArchiveSet(const ClientArchiveSet&) = delete;
  ClientArchiveSet& operator=(const ClientArchiveSet&) = delete;

  // Archives. True when all fifteen are open; a missing or damaged one is recreated
  // holding only the version entry "0".
  bool OpenArchives();
  // Writes every changed index, then a version stored by WriteLocalVersion into the
  // version file. False, with an ERROR line naming the archive or the file, when any of
  // that fails (a full disk): the version file is then left as it was, and an archive
  // that was not saved keeps its changes for the next save.
  bool SaveArchives();
  // The smallest of the version file (or the version waiting to go into it) and every
  // archive's version entry; 0 whenever any of them is missing.
  int32_t ReadLocalVersion();
  // Stores the version in every archive; false, with an ERROR line naming the archive,
  // when one refuses it. The version file is written last, once the archives hold the
  // version on disk: at once when no archive has unsaved changes, else by SaveArchives.
  // So a version is never recorded for changes that did not reach the disk.
  bool WriteLocalVersion(int32_t version);
  // The open archive of exactly this name, or null.
  TavrinFilePackage* GetPackage(std::u16string_view name);

  // Server protocol. Negative results are error codes.
  int32_t FetchServerVersion();
  int32_t GetList(int32_t clientVersion, int32_t serverVersion);
  int32_t GetFullList();
  bool ReadList(const uint8_t* data, std::size_t size);
  std::u16string FindPatchPackage(int32_t clientVersion, int32_t serverVersion, int32_t& from, int32_t& to);

  // File check: 0 done (or cancelled: see cancelRequested()), -1 a download failed or
  // did not match the list, -2 an archive refused the data or is not open, -3 a plain
  // file could not be written or a path was refused.
  int32_t CheckFiles(bool resume);
  int32_t ProcessFileTable();

  // Update packages. DownloadPatchPackage: true when the package chosen for the
  // versions arrived whole in the temporary file; it raises `busy`, as a package
  // download is the longest step of an update. ApplyPackage: 0 every record applied and
  // the target version stored (SaveArchives records it), kApplyCancelled, -1 unusable or
  // damaged package (every record's content is checked before the first is applied, so
  // nothing was), -2 client below the package's minimum version, -3 archive problem, -4
  // plain file problem.
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

  // Room the disk must keep beside a downloaded package: the archives grow and are
  // saved after it is applied.
  static constexpr uint64_t kDiskReserve = 64u * 1024 * 1024;

  // The cancel token of the running operation, given by whoever runs it (the workflow)
  // before its first step; the engine only reads it. None: nothing cancels.
  std::shared_ptr<const CancelToken> cancelToken;
  bool cancelRequested() const { return cancelToken != nullptr && cancelToken->cancelled(); }

  // Shared with the window and the progress display.
  std::atomic<int32_t> itemsTotal{0};
  std::atomic<int32_t> itemsDone{0};
  std::atomic<bool> busy{false};
  // Files written into the client by file checks and packages since construction
  // (downloaded or taken from a package because they differed), for a console's summary.
  std::atomic<int32_t> filesStored{0};

  // Threads that read and hash the targets of a file check or a package, the running
  // operation's own among them (see entry_pass.h); 1 checks one entry after the other.
  int checkThreads = DefaultCheckThreads();
  static int DefaultCheckThreads();
  // Called on a checking thread for each entry whose target it checked ahead, with the
  // entry's path: for tests that need to see how far ahead the check runs.
  std::function<void(const std::u16string& path)> onCheckedAhead;
  // Held around every use of the archive archiveNames[nameIndex] while a file check or a
  // package runs: its targets are read on those threads while this one stores.
  std::mutex& archiveMutex(std::size_t nameIndex) { return archiveMutexes_[nameIndex]; }

  // A relative client path as a plain file under the client folder.
  std::u16string PlainFilePath(const std::u16string& relative) const;

 private:
  // ApplyPackage once the package file is open.
  int32_t ApplyPackageFile(platform::File& file, const std::u16string& path);
  // Writes the version file; false (logged) when it cannot be written.
  bool WriteVersionFile(int32_t version);

  // The version WriteLocalVersion stored in the archives, to go into the version file once
  // they are saved.
  std::optional<int32_t> pendingVersion_;

  std::array<std::mutex, kArchiveNames.size()> archiveMutexes_;
};
