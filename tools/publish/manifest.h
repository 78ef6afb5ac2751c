#pragma once
// A release as published: every file of the client with its digest, size and stored
// size. The tree keeps one per release under "manifests\<version>" (in the layout of
// "fulllist"), so that every later release can list what changed since it.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "formats/file_list.h"

struct Manifest {
  int32_t version = 0;
  // By identity (client_paths.h), so that a change of letter case is not a new file.
  std::map<std::u16string, ListEntry> files;
};

void AddToManifest(const ListEntry& entry, Manifest* manifest);
// Every file, ordered by identity.
std::vector<ListEntry> ManifestEntries(const Manifest& manifest);

// What a client at `from` must check to reach `to`: files added or changed, then
// deletions (size kDeleteSize, named as the updater removes them).
std::vector<ListEntry> ChangesBetween(const Manifest& from, const Manifest& to);

std::filesystem::path ManifestPath(const std::filesystem::path& serverRoot, int32_t version);
// The versions that have a manifest in the tree, ascending.
std::vector<int32_t> PublishedReleases(const std::filesystem::path& serverRoot);
bool LoadManifest(const std::filesystem::path& serverRoot, int32_t version, Manifest* manifest, std::string* why);
bool SaveManifest(const std::filesystem::path& serverRoot, const Manifest& manifest, std::string* why);
