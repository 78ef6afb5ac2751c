#pragma once
// What lets a later run take up a download into a file that stopped (a cancel, a kill, a power
// loss): an update package, or a large file of the file pass. Written beside the file as the
// body starts, it names what is downloaded (the package's address, the file's resource and
// digest), its length and the validator (ETag or date) the server gave it. The bytes already
// in the file are taken up only for the same download, and only while the server still
// answers the validator with the rest of the same body.

#include <cstdint>
#include <optional>
#include <string>

#include "net/body_transfer.h"

namespace platform {
class File;
}

struct DownloadResumeRecord {
  // What is downloaded; one line.
  std::u16string url;
  uint32_t length = 0;
  std::string validator;
};

// None when the file is missing or is not a record.
std::optional<DownloadResumeRecord> ReadDownloadResumeRecord(const std::u16string& path);
// Whole or not at all; false when it could not be written.
bool WriteDownloadResumeRecord(const std::u16string& path, const DownloadResumeRecord& record);

// `file` opened at its end to take up the download of `url` that an earlier run left in
// `dataFile`, when `recordFile` names the same download and the file holds part of it;
// otherwise nothing is opened, the record goes and the result is not usable.
BodyResume TakeUpDownload(const std::u16string& recordFile, const std::u16string& dataFile, const std::u16string& url,
                          platform::File* file);
