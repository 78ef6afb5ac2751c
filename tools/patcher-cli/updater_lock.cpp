#include "updater_lock.h"

#include <cerrno>

UpdaterLock::Result UpdaterLock::Acquire(const std::u16string& root) {
  if (!marker_.Acquire(kMarkerName)) return Result::kOtherUpdaterRunning;
  const std::u16string folder = root + u"/config/patcher";
  lockPath_ = folder + u"/updater.lock";
  platform::MakeDirectories(folder);
  const bool existed = platform::FileExists(lockPath_);
  const int error = lockFile_.Open(lockPath_, platform::FileMode::kCreate);
  // Only a lock file that is there can be held by someone. One that cannot even be made
  // (a read-only client) is no sign of another updater: the archives will say more.
  if (error == EACCES && existed) return Result::kFolderInUse;
  return Result::kAcquired;
}
