#include "common/read_file.h"

#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool Fail(ReadFileFailure kind, std::string reason, std::string* why, ReadFileFailure* failure) {
  *why = std::move(reason);
  if (failure != nullptr) *failure = kind;
  return false;
}

}  // namespace

bool ReadFileBytes(const fs::path& path, uint64_t maxBytes, std::vector<uint8_t>* bytes, std::string* why,
                   ReadFileFailure* failure) {
  if (failure != nullptr) *failure = ReadFileFailure::kNone;
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return Fail(ReadFileFailure::kNoSize, error.message(), why, failure);
  if (size > maxBytes)
    return Fail(ReadFileFailure::kTooLarge, "larger than " + std::to_string(maxBytes) + " bytes", why, failure);
  bytes->resize(static_cast<std::size_t>(size));
  std::ifstream in(path, std::ios::binary);
  if (!in || (size > 0 && !in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(size))) ||
      in.peek() != std::ifstream::traits_type::eof())
    return Fail(ReadFileFailure::kUnreadable, "unreadable or changing while read", why, failure);
  return true;
}
