#pragma once
// Paths that a wrapper script hands over through the environment.

#include <string>

namespace testsupport {

// The Linux path as this program opens it: a Windows program under Wine sees the Linux
// file system as drive Z:.
std::u16string LocalPath(const char* linuxPath);

}  // namespace testsupport
