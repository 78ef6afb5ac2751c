#pragma once
// One updater per client: the updater's single-instance marker where the platform has
// one (Windows: the named mutex patcher.exe also takes), and a lock file in the client
// root's config\patcher folder on every platform.

#include <string>

#include "platform/file.h"
#include "platform/instance_marker.h"

class UpdaterLock {
 public:
  enum class Result { kAcquired, kOtherUpdaterRunning, kFolderInUse };

  static constexpr char16_t kMarkerName[] = u"Solmere Classic Updater";

  // Held until the object goes.
  Result Acquire(const std::u16string& root);
  // The lock file's path once Acquire ran.
  const std::u16string& lockPath() const { return lockPath_; }

 private:
  platform::InstanceMarker marker_;
  platform::File lockFile_;
  std::u16string lockPath_;
};
