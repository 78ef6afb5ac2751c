#pragma once
// Relative client paths from the server's lists and from update packages: which
// archives they reach, and whether they may be used at all.

#include <cstddef>
#include <string>
#include <string_view>

// Longest relative path in UTF-16 units: what an update package's record and an archive
// entry's name can hold. A longer name is no file of the client.
inline constexpr std::size_t kMaxClientPathLength = 259;

// False for a path that could reach outside the client folder or name something other
// than a file in it: empty, longer than kMaxClientPathLength, absolute ("\" or "/"
// first), with a drive, UNC or stream ":" anywhere, with a "." or ".." component (either
// separator), or with a zero unit.
bool IsSafeClientPath(std::u16string_view path);

// True when the path, used as a plain file, would be one of the archives' own files
// (<name>.pck or <name>.pkx) as a file system could see it: letters compared without
// regard to case, "/" taken as "\", repeated separators as one, and trailing dots and
// spaces of every component dropped, as Windows drops them. Such a path is never used.
bool NamesArchiveFile(std::u16string_view path);

// A path the updater may use for a file: safe, and not one of the archives' own files.
bool IsUsableClientPath(std::u16string_view path);

// Which archive a path lives in is archive/archive_names.h's ArchiveOfPath.

// The full name of the path's entry in its archive: "\" between folders throughout.
std::u16string ArchiveEntryName(std::u16string_view path);

// Equal for two paths that reach the same archive entry, or the same plain file as a
// case-blind file system could resolve them (as NamesArchiveFile compares names).
std::u16string TargetKey(std::u16string_view path);
