#pragma once
// Where the running program file lives: the updater finds the client from there.

#include <string>

namespace platform {

// The folder of the running program file, without a trailing separator; empty when the
// system cannot say (Windows), the current folder when /proc cannot (POSIX).
std::u16string ProgramFolder();

}  // namespace platform
