#pragma once
// One updater per client: the updater's single-instance marker where the platform has one
// (Windows: a named mutex; patcher.exe takes it alone), and for the console updater also a
// lock file in the client root's config\patcher folder, on every platform.

#include <string>
#include <string_view>

#include "engine/client_layout.h"
#include "platform/file.h"
#include "platform/instance_marker.h"

// The name of the marker every updater of this product holds while it runs.
inline constexpr std::u16string_view kUpdaterInstanceName = u"Solmere Classic Updater";

class UpdaterLock {
 public:
  enum class Result { kAcquired, kOtherUpdaterRunning, kFolderInUse };

  // Held until the object goes.
  Result Acquire(const ClientLayout& layout);

 private:
  platform::InstanceMarker marker_;
  platform::File lockFile_;
};
