#include "local_files.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "report.h"

bool ReadLocalFile(const std::u16string& path, std::vector<uint8_t>* contents) {
  const std::filesystem::path file(path);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) {
    ReportError("cannot read " + Utf8(path) + ": " + error.message());
    return false;
  }
  if (size > UINT32_MAX) {
    ReportError(Utf8(path) + " is too large for an archive entry (4 GiB or more)");
    return false;
  }
  contents->resize(static_cast<std::size_t>(size));
  std::ifstream in(file, std::ios::binary);
  if (!in || !in.read(reinterpret_cast<char*>(contents->data()), static_cast<std::streamsize>(size)) ||
      in.peek() != std::ifstream::traits_type::eof()) {
    ReportError("cannot read " + Utf8(path) + " (missing, unreadable or changing while read)");
    return false;
  }
  return true;
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
