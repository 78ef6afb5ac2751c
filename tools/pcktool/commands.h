#pragma once
// The tool's commands. Each returns the process exit code: 0 done, 1 failed (reported on
// stderr), 2 bad usage (an ARCHIVE that names no archive).

#include <string>
#include <vector>

inline constexpr int kFailedExit = 1;
inline constexpr int kUsageExit = 2;

// Read-only: nothing of the archive's files changes.
// Lines "full name<TAB>length<TAB>stored length", sorted by full name.
int RunList(const std::u16string& archive);
// The entry's contents, byte for byte, on stdout.
int RunCat(const std::u16string& archive, const std::u16string& fullName);
// Reads and inflates every entry; one line on stderr per damaged entry.
int RunVerify(const std::u16string& archive);
// Every entry, or the ones named, written to folder\<its full name>; names that could
// leave folder are refused. With noOverwrite an existing file is kept.
int RunExtract(const std::u16string& archive, const std::u16string& folder, const std::vector<std::u16string>& names,
               bool noOverwrite);

// Writing.
// A new archive named name holding every file under folder as name\<relative path>.
int RunPack(const std::u16string& folder, const std::u16string& archive, const std::u16string& name);
// Stores file under fullName and commits.
int RunAdd(const std::u16string& archive, const std::u16string& fullName, const std::u16string& file);
// Removes the entry fullName (letters A-Z in either case) and commits.
int RunRemove(const std::u16string& archive, const std::u16string& fullName);
// Cuts what an interrupted write left after the last commit.
int RunRepair(const std::u16string& archive);

// Full names typed with "/" mean "\", the only separator inside archives.
std::u16string ArchiveSeparators(std::u16string fullName);
