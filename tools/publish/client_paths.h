#pragma once
// How the updater reads a client path: which archive it lands in, and which names it
// takes for the same file.

#include <cstddef>
#include <string>
#include <string_view>

#include "archive/archive_names.h"

// Which archive a path lands in is the updater's rule: ArchiveOfPath (archive/archive_names.h).

// Archive entries match whatever the case of A-Z, and Windows clients keep plain files on
// a case-blind disk: one file, whatever the case of A-Z, is one identity.
std::u16string IdentityOf(std::u16string_view path);

// The name a deletion must carry. The updater removes archive entries by their key as
// given, never lower-casing it, so an entry named Models\A.ski is only removed by models\a.ski.
std::u16string DeletionName(std::u16string_view path);
