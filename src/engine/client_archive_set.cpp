#include "engine/client_archive_set.h"

#include "platform/file.h"

ClientArchiveSet::ClientArchiveSet(const ClientLayout& layout, const std::vector<UpdateServerAddress>& servers,
                                   const platform::HttpLimits& limits)
    : layout_(layout),
      archives_(layout_),
      server_(servers, layout_.verifiedReleaseFile(), limits),
      fileCheck_(archives_, layout_, server_) {}

ClientArchiveSet::~ClientArchiveSet() {
  if (downloadedPackage_) platform::RemoveFile(layout_.packageFile());
}

ListResult ClientArchiveSet::GetList(const OperationContext& context, int32_t clientVersion, int32_t serverVersion) {
  FileTable table;
  ListResult result = server_.GetList(context, clientVersion, serverVersion, &table);
  if (result.loaded()) fileCheck_.Load(std::move(table));
  return result;
}

ListResult ClientArchiveSet::GetFullList(const OperationContext& context, int32_t serverVersion) {
  FileTable table;
  ListResult result = server_.GetFullList(context, serverVersion, &table);
  if (result.loaded()) fileCheck_.Load(std::move(table));
  return result;
}

CheckResult ClientArchiveSet::CheckFiles(const OperationContext& context, bool resume) {
  BusyScope busyScope(busy_);
  CheckResult result = fileCheck_.Run(context, passSettings_, resume);
  filesStored_ += result.filesStored;
  return result;
}

PackageDownload ClientArchiveSet::DownloadPatchPackage(const OperationContext& context, int32_t clientVersion,
                                                       int32_t serverVersion) {
  BusyScope busyScope(busy_);
  PackageDownload download = ::DownloadPatchPackage(server_, layout_, context, clientVersion, serverVersion);
  // A download that stopped is kept for the next run to take up.
  if (download.from >= 0) downloadedPackage_ = !download.resumable;
  return download;
}

ApplyResult ClientArchiveSet::ApplyPackage(const OperationContext& context, const std::u16string& path,
                                           std::optional<int32_t> expectedTarget) {
  ApplyResult result = ::ApplyPackage(archives_, layout_, busy_, passSettings_, context, path, expectedTarget);
  filesStored_ += result.filesStored;
  return result;
}
