#pragma once
// Plain client files (those outside the archives) written from checked content. The
// content goes into a temporary file beside the file and replaces it only once all of it
// has checked out, so a file is never left half-written or holding bytes that do not
// match the list. Its folder is created only then, too.

#include <functional>
#include <string>

#include "engine/stored_content.h"

enum class PlainFileResult { kWritten, kContentMismatch, kCannotWrite };

// Added to a file's name for its temporary file.
inline constexpr char16_t kPlainFilePartSuffix[] = u".~part";

// `check(sink)` runs the content check, handing every piece of the content to `sink`
// (null: check only), and returns whether the content is right. It may run twice: once to
// check before a missing folder is created, once to write.
PlainFileResult WritePlainFile(const std::u16string& fullPath,
                               const std::function<bool(const StoredContent::Sink& sink)>& check);
