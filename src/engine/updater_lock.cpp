#include "engine/updater_lock.h"

#include <cerrno>

#include "base/paths.h"

UpdaterLock::Result UpdaterLock::Acquire(const ClientLayout& layout) {
  if (!marker_.Acquire(std::u16string(kUpdaterInstanceName))) return Result::kOtherUpdaterRunning;
  const std::u16string& lockPath = layout.lockFile();
  platform::MakeDirectories(ParentFolder(lockPath));
  const bool existed = platform::FileExists(lockPath);
  const int error = lockFile_.Open(lockPath, platform::FileMode::kCreate);
  // Only a lock file that is there can be held by someone. One that cannot even be made
  // (a read-only client) is no sign of another updater: the archives will say more.
  if (error == EACCES && existed) return Result::kFolderInUse;
  return Result::kAcquired;
}
