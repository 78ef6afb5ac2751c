#pragma once
// The updater's single-instance marker: a named object that exists while some process
// holds it (a named mutex on Windows). POSIX has no such marker; there Acquire always
// succeeds and a lock file has to do the job.

#include <string>

namespace platform {

class InstanceMarker {
 public:
  InstanceMarker() = default;
  // Gives the marker up.
  ~InstanceMarker();
  InstanceMarker(const InstanceMarker&) = delete;
  InstanceMarker& operator=(const InstanceMarker&) = delete;

  // False when another process already holds a marker of this name. A marker that
  // cannot be made at all is no reason to stop, so that counts as acquired.
  bool Acquire(const std::u16string& name);

 private:
  // The mutex on Windows; POSIX keeps nothing here.
  [[maybe_unused]] void* handle_ = nullptr;
};

}  // namespace platform
