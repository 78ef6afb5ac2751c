#pragma once
// The lock file of a server tree: a publish that writes the tree, or uploads it, holds it, so
// two never mix their files and an upload never takes a half-written release.

#include <filesystem>

#include "platform/file.h"

inline constexpr char kLockName[] = ".publish-lock";

// Takes the lock of the existing tree `root` into `lock`; a dry run makes no lock file and only
// looks whether a publish holds one. False with the error reported.
bool LockTree(const std::filesystem::path& root, bool dryRun, platform::File* lock);
