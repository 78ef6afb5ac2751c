#pragma once
// The updater's own programs, published beside the client: every file of the updater's folder
// (patcher.exe, its skin and the rest of "patcher\") under "patcher\" of the server tree, and the
// launcher program's under "launcher\". Each part holds "<part>\list", in the layout of fulllist
// (the updater version the files make up, then every file with its MD5, size and stored size),
// and the stored forms under "<part>\files\".

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/file_list.h"

inline constexpr char kPatcherPart[] = "patcher";
inline constexpr char kLauncherPart[] = "launcher";

// The files of `folder`, named relative to it with "\" between folders, in name order; false
// with the reason for a folder that is missing, empty or holds something other than files and
// folders (a link), or a name the updater could not take.
bool ProgramFiles(const std::filesystem::path& folder, std::vector<std::u16string>* names, std::string* why);

// Writes the stored form of every file of `folder` and then the part's list of `version`.
bool PublishProgramFiles(const std::filesystem::path& folder, const std::filesystem::path& serverRoot,
                         const std::string& part, int32_t version, std::vector<ListEntry>* entries, std::string* why);

// Once the version has moved on: the stored forms of the part that its list no longer names.
void RemoveUnlistedProgramFiles(const std::filesystem::path& serverRoot, const std::string& part,
                                const std::vector<ListEntry>& entries);
