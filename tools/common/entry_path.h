#pragma once
// Where an entry may be written when an archive is extracted. Entry names come from the
// archive and are untrusted: one that could reach outside the extraction folder, or that
// Windows would silently turn into another name, is refused on every platform.

#include <string>
#include <string_view>
#include <vector>

// Splits a full name at "\" (and "/") into folder and file names; false with the reason
// when the name is absolute, has a drive or UNC prefix, an empty, "." or ".." component,
// or a component Windows cannot hold as it is.
bool SplitEntryPath(std::u16string_view fullName, std::vector<std::u16string>* components, std::string* reason);
