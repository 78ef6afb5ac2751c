#pragma once
// Paths as the updater builds them: a base joined with parts, made absolute with "." and
// ".." resolved lexically (the path need not exist), the folder part of a path, and the
// process's current folder.

#include <initializer_list>
#include <string>
#include <string_view>

// `base` joined with `parts`, absolute and normalised.
std::u16string NormalisedPath(const std::u16string& base, std::initializer_list<std::u16string_view> parts);

// A client path ("\" or "/" between its parts) below `folder`, every separator of it the
// platform's own: a path shown in the log or a message never mixes the two.
std::u16string JoinedPath(const std::u16string& folder, std::u16string_view relative);

// Folder part of a path ("a\b\c" gives "a\b"); either separator ends it. Empty for a bare name.
std::u16string ParentFolder(const std::u16string& path);

// The process's current folder.
std::u16string CurrentFolder();
