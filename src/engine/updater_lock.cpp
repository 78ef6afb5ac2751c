#include "engine/updater_lock.h"

#include <cerrno>

#include "base/paths.h"
#include "engine/client_links.h"

UpdaterLock::Result UpdaterLock::Acquire(const ClientLayout& layout) {
  if (!marker_.Acquire(std::u16string(kUpdaterInstanceName))) return Result::kOtherUpdaterRunning;
  const std::u16string& lockPath = layout.lockFile();
  // Nothing is made through a link; the archives refuse such a client, naming the link.
  if (!LinkBelow(layout.root(), lockPath).empty()) return Result::kAcquired;
  platform::MakeDirectories(ParentFolder(lockPath));
  // The claim is the open itself: two updaters that start together cannot both hold the
  // file. A lock file that could not even be made (a read-only client) is no sign of
  // another updater: the archives will say more.
  const int error = lockFile_.Open(lockPath, platform::FileMode::kCreate);
  if (error == EACCES && platform::FileExists(lockPath)) return Result::kFolderInUse;
  return Result::kAcquired;
}
