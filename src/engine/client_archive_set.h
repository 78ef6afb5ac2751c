#pragma once
// The updater's engine object: the client's layout, its archives and local version, the
// update server's protocol, the file check and the update packages, each a part of its own.
// The operations take what they need as arguments: an operation context with the cancel
// token and the progress sink of whoever runs them, and they return results that name
// their outcome and its cause.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "base/operation_context.h"
#include "engine/busy_flag.h"
#include "engine/client_archives.h"
#include "engine/client_layout.h"
#include "engine/entry_pass.h"
#include "engine/file_check.h"
#include "engine/package_apply.h"
#include "engine/package_download.h"
#include "engine/server_protocol.h"
#include "net/update_server_address.h"
#include "platform/http.h"

class ClientArchiveSet {
 public:
  // `servers`: the update server and its mirrors, in the order tried.
  ClientArchiveSet(const ClientLayout& layout, const std::vector<UpdateServerAddress>& servers,
                   const platform::HttpLimits& limits = {});
  ClientArchiveSet(const ClientLayout& layout, const UpdateServerAddress& server,
                   const platform::HttpLimits& limits = {})
      : ClientArchiveSet(layout, std::vector<UpdateServerAddress>{server}, limits) {}
  // Deletes the temporary package file when this set downloaded into it (a package the user
  // gave stays as it is); writes no index (see SaveArchives).
  ~ClientArchiveSet();
  ClientArchiveSet(const ClientArchiveSet&) = delete;
  ClientArchiveSet& operator=(const ClientArchiveSet&) = delete;

  // The archives and the local version (see ClientArchives).
  OpenResult OpenArchives(const OperationContext& context) { return archives_.Open(context); }
  WriteResult SaveArchives(const OperationContext& context) { return archives_.Save(context); }
  int32_t ReadLocalVersion() { return archives_.ReadLocalVersion(); }
  WriteResult WriteLocalVersion(int32_t version) { return archives_.WriteLocalVersion(version); }
  // Closes every archive, each writing its changed index (before the game starts, at the end).
  void CloseArchives() { archives_.CloseAll(); }

  // The server (see ServerProtocol). A list that loads becomes the file check's table.
  ServerVersion FetchServerVersion(const OperationContext& context) { return server_.FetchServerVersion(context); }
  ListResult GetList(const OperationContext& context, int32_t clientVersion, int32_t serverVersion);
  ListResult GetFullList(const OperationContext& context, int32_t serverVersion);

  // The file check over the table of the last list (or SetFileTable's); busy meanwhile.
  CheckResult CheckFiles(const OperationContext& context, bool resume);
  void SetFileTable(FileTable table) { fileCheck_.Load(std::move(table)); }
  const FileTable& fileTable() const { return fileCheck_.entriesLeft(); }

  // Update packages: the package for a pair of versions downloaded into the temporary
  // package file (busy meanwhile, the longest step of an update), and a package file applied.
  PackageDownload DownloadPatchPackage(const OperationContext& context, int32_t clientVersion, int32_t serverVersion);
  // `expectedTarget`: see ::ApplyPackage.
  ApplyResult ApplyPackage(const OperationContext& context, const std::u16string& path,
                           std::optional<int32_t> expectedTarget = std::nullopt);

  // With release keys, a package picked from disk held against the server's signed manifest.
  ServerProtocol::PackageCheck CheckPackageFile(const OperationContext& context, const std::u16string& path) {
    return server_.CheckPackageFile(context, path);
  }

  // Raised while a file check, a package download or a package application runs.
  bool busy() const { return busy_.raised(); }
  void WaitUntilIdle() const { busy_.WaitUntilLowered(); }
  // Files written into the client by file checks and packages since construction
  // (downloaded or taken from a package because they differed), for a console's summary.
  int32_t filesStored() const { return filesStored_.load(); }

  // How file checks and packages read and hash their targets (see PassSettings).
  void SetCheckThreads(int threads) { passSettings_.threads = threads; }
  // How many downloads of a file check run at once (see DownloadAhead).
  void SetConnections(int connections) { passSettings_.connections = connections; }
  void SetCheckedAheadHook(std::function<void(const std::u16string& path)> hook) {
    passSettings_.onCheckedAhead = std::move(hook);
  }

  const ClientLayout& layout() const { return layout_; }
  ClientArchives& archives() { return archives_; }
  ServerProtocol& server() { return server_; }

 private:
  const ClientLayout layout_;
  ClientArchives archives_;
  ServerProtocol server_;
  FileCheck fileCheck_;
  PassSettings passSettings_;
  BusyFlag busy_;
  std::atomic<int32_t> filesStored_{0};
  // A download has written the temporary package file.
  std::atomic<bool> downloadedPackage_{false};
};
