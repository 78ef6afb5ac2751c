#pragma once
// Relative client paths from the server's lists and from update packages: which
// archives they reach, and whether they may be used at all.

#include <string>
#include <string_view>

// False for a path that could reach outside the client folder or name something other
// than a file in it: empty, absolute ("\" or "/" first), with a drive, UNC or stream
// ":" anywhere, with a "." or ".." component (either separator), or with a zero unit.
bool IsSafeClientPath(std::u16string_view path);

// Whether the path lives in the archive: a plain prefix test, case-sensitive, with no
// check for a following "\" (so "modelsX\a.ski" belongs to "models").
bool BelongsToArchive(std::u16string_view path, std::u16string_view archiveName);

// True when the path begins with any archive name.
bool IsArchivePath(std::u16string_view path);
