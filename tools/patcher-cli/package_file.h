#pragma once
// The FILE of "apply", judged before anything is opened or locked: it must be there and
// read as an update package.

#include <string>

// False with a one-line reason (Russian) naming the file.
bool CheckPackageFile(const std::u16string& path, std::string* error);
