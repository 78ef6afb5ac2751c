#pragma once
// Plain client files (those outside the archives) written from checked content. The
// content goes into a temporary file in the client's staging folder (outside the client
// folder, so no listed name can ever be it) and replaces the file only once all of it has
// checked out, so a file is never left half-written or holding bytes that do not match the
// list. Its folder is created only then, too.

#include <functional>
#include <string>

#include "engine/stored_content.h"

enum class PlainFileResult {
  kWritten,
  kContentMismatch,
  kCannotWrite,
  kDiskFull,  // the disk had no room for it
};

// `check(sink)` runs the content check, handing every piece of the content to `sink`
// (null: check only), and returns whether the content is right. It may run twice: once to
// check before a missing folder is created, once to write. `partPath` is the temporary
// file, on the same volume as the file; its folder is made when missing.
PlainFileResult WritePlainFile(const std::u16string& fullPath, const std::u16string& partPath,
                               const std::function<bool(const StoredContent::Sink& sink)>& check);
