#pragma once
// The files of a release: every client file read, hashed and, when it differs from the
// newest release, compressed into its stored form and written under "files\". The work
// is spread over several threads; what the release reports and writes is the same for
// any number of them.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "chunk_store.h"
#include "client_folder.h"
#include "manifest.h"

struct ReleaseTotals {
  uint64_t files = 0, bytes = 0, storedBytes = 0, written = 0;
};

// Adds every file to current and counts it in totals. A stored file is rewritten only
// when the file differs from the newest release (previous); a large file's chunks go to
// `chunks`. A dry run (no chunk store) makes the stored forms and writes none. On a failure the first failing file in
// list order is reported and false returned; stored files written by then are complete, each under its name.
bool StoreClientFiles(const std::vector<ClientFile>& files, ClientFolder* client, const Manifest& previous,
                      const std::filesystem::path& storedRoot, ChunkStore* chunks, unsigned jobs, Manifest* current,
                      ReleaseTotals* totals);
