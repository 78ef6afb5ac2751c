#include "local_files.h"

#include <filesystem>
#include <fstream>

#include "common/read_file.h"
#include "report.h"

bool ReadLocalFile(const std::u16string& path, std::vector<uint8_t>* contents) {
  std::string why;
  ReadFileFailure failure = ReadFileFailure::kNone;
  if (ReadFileBytes(std::filesystem::path(path), UINT32_MAX, contents, &why, &failure)) return true;
  switch (failure) {
    case ReadFileFailure::kNoSize:
      ReportError("cannot read " + Utf8(path) + ": " + why);
      break;
    case ReadFileFailure::kTooLarge:
      ReportError(Utf8(path) + " is too large for an archive entry (4 GiB or more)");
      break;
    case ReadFileFailure::kUnreadable:
    case ReadFileFailure::kNone:
      ReportError("cannot read " + Utf8(path) + " (missing, unreadable or changing while read)");
      break;
  }
  return false;
}

bool WriteLocalFile(const std::u16string& path, const std::vector<uint8_t>& contents) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  if (!out) {
    ReportError("cannot create " + Utf8(path));
    return false;
  }
  out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
  out.close();
  if (!out) {
    ReportError("cannot write " + Utf8(path));
    return false;
  }
  return true;
}
