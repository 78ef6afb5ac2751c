#pragma once
// The program's arguments and standard streams, the same way on every platform.

#include <string>
#include <vector>

namespace platform {

// The arguments after the program name, as UTF-16. Windows hands argv over in the ANSI
// code page, which loses every character outside it, so there the wide command line is used.
std::vector<std::u16string> CommandLineArguments(int argc, char** argv);

// Standard output and error carry bytes as they are (no "\n" to "\r\n" translation on Windows).
bool SetBinaryStandardStreams();

}  // namespace platform
