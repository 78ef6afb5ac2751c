#include "platform/instance_marker.h"

namespace platform {

InstanceMarker::~InstanceMarker() = default;

bool InstanceMarker::Acquire(const std::u16string&) {
  return true;
}

}  // namespace platform
