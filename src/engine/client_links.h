#pragma once
// Links inside the client root. The updater may run with administrator rights, and whoever
// can write into the client folder could put a symbolic link or a junction where it writes
// and so redirect its writes anywhere. Every path it writes is therefore checked, from the
// root down, to pass through no link; the files it opens for writing refuse a link as their
// last component themselves (platform::File::Open).

#include <string>
#include <vector>

// The first component of `path` below `root` that is a link, as a path; empty when none is,
// or when `path` is not below `root`. Components that do not exist are no links: what is
// missing is made by the updater itself, as a folder or file of its own. Either separator
// counts in both paths.
std::u16string LinkBelow(const std::u16string& root, const std::u16string& path);

// The first link below `root` on the way to any of `paths`; empty when there is none.
std::u16string FirstLinkBelow(const std::u16string& root, const std::vector<std::u16string>& paths);
