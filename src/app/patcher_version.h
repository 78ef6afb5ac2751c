#pragma once
// The updater's own version: the number in its version file, and the number the update
// server expects ("patcher_version_new"). When they differ, the launcher program takes over.

#include <cstdint>
#include <string>

class UpdateServerClient;

// The local number; a missing or unreadable file is created holding "0" and reads as 0.
int32_t ReadPatcherVersion(const std::u16string& path);

// The server's number: 0 for an empty resource, -1 when the fetch failed or delivered
// fewer bytes than announced (logged as an ERROR line).
int32_t FetchServerPatcherVersion(UpdateServerClient& client);

inline constexpr char16_t kServerPatcherVersionResource[] = u"patcher_version_new";
