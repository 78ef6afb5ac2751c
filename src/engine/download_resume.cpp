#include "engine/download_resume.h"

#include <string_view>

#include "base/decimal_text.h"
#include "base/whole_file.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kHeader = "solmere-package-resume 1";
// An address of at most 259 characters and a validator of at most 200.
constexpr uint64_t kMaxRecordBytes = 4096;

// The value of "KEY VALUE" when the line is one; empty otherwise.
std::string_view Field(std::string_view line, std::string_view key) {
  if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 || line[key.size()] != ' ') return {};
  return line.substr(key.size() + 1);
}

// A length as the package fetch counts it: 1 to 0x7FFFFFFF, digits only.
std::optional<uint32_t> LengthOf(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value == 0 || value > 0x7FFFFFFF) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<DownloadResumeRecord> ReadDownloadResumeRecord(const std::u16string& path) {
  std::string text;
  if (!ReadSmallFile(path, kMaxRecordBytes, &text)) return std::nullopt;
  DownloadResumeRecord record;
  std::string_view rest(text);
  std::string_view lines[4];
  for (std::string_view& line : lines) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
  }
  const std::string_view url = Field(lines[1], "url");
  const std::string_view length = Field(lines[2], "length");
  const std::string_view validator = Field(lines[3], "validator");
  const std::optional<uint32_t> number = LengthOf(length);
  if (lines[0] != kHeader || url.empty() || !number || validator.empty() || !rest.empty()) return std::nullopt;
  record.url = platform::Utf16FromUtf8(std::string(url));
  record.length = *number;
  record.validator = std::string(validator);
  return record;
}

bool WriteDownloadResumeRecord(const std::u16string& path, const DownloadResumeRecord& record) {
  std::string text(kHeader);
  text += "\nurl " + platform::Utf8FromUtf16(record.url) + "\nlength " +
          DecimalText(static_cast<int32_t>(record.length)) + "\nvalidator " + record.validator + "\n";
  return WriteFileWhole(path, text);
}

BodyResume TakeUpDownload(const std::u16string& recordFile, const std::u16string& dataFile, const std::u16string& url,
                          platform::File* file) {
  BodyResume resume;
  const std::optional<DownloadResumeRecord> record = ReadDownloadResumeRecord(recordFile);
  uint64_t size = 0;
  if (record && record->url == url && file->Open(dataFile, platform::FileMode::kReadWrite) == 0 &&
      file->Seek(0, platform::SeekOrigin::kEnd) && file->Tell(&size) && size > 0 && size < record->length) {
    resume.received = static_cast<uint32_t>(size);
    resume.declared = record->length;
    resume.validator = record->validator;
    return resume;
  }
  file->Close();
  platform::RemoveFile(recordFile);
  return resume;
}
