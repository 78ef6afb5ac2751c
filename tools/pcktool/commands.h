#pragma once
// The tool's commands. Each returns the process exit code: 0 done, 1 failed (reported on stderr).

#include <string>

// Lines "full name<TAB>length<TAB>stored length", sorted by full name.
int RunList(const std::u16string& archive);
// The entry's contents, byte for byte, on stdout.
int RunCat(const std::u16string& archive, const std::u16string& fullName);
// Reads and inflates every entry; one line on stderr per damaged entry.
int RunVerify(const std::u16string& archive);
// Every entry written to folder\<its full name>; names that could leave folder are refused.
int RunExtract(const std::u16string& archive, const std::u16string& folder);
// A new archive named name holding every file under folder as name\<relative path>.
int RunPack(const std::u16string& folder, const std::u16string& archive, const std::u16string& name);
// Stores file under fullName and commits.
int RunAdd(const std::u16string& archive, const std::u16string& fullName, const std::u16string& file);
// Removes the entry fullName (letters A-Z in either case) and commits.
int RunRemove(const std::u16string& archive, const std::u16string& fullName);

// Full names typed with "/" mean "\", the only separator inside archives.
std::u16string ArchiveSeparators(std::u16string fullName);
