#include "platform/md5.h"

namespace platform {

bool ComputeMd5(const void* data, std::size_t size, Md5Digest* digest) {
  Md5 md5;
  return md5.Update(data, size) && md5.Finish(digest);
}

}  // namespace platform
