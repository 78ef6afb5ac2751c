// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>
// The C runtime's and the shell's, after it.
#include <io.h>
#include <share.h>
#include <shlobj.h>

#include <cerrno>

#include "platform/file.h"

namespace platform {
namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

int File::Open(const std::u16string& path, FileMode mode) {
  Close();
  const wchar_t* stdioMode = mode == FileMode::kRead ? L"rb" : mode == FileMode::kReadWrite ? L"rb+" : L"wb+";
  // Share-deny both: nobody else reads or writes the file while we hold it.
  errno = 0;
  stream_ = ::_wfsopen(Wide(path), stdioMode, _SH_DENYRW);
  if (stream_ == nullptr) return errno != 0 ? errno : EACCES;
  return 0;
}

bool File::RepositionInPlace() {
  return ::_fseeki64(stream_, 0, SEEK_CUR) == 0;
}

bool File::Seek(int64_t offset, SeekOrigin origin) {
  if (stream_ == nullptr) return false;
  lastOp_ = LastOp::kNone;
  return ::_fseeki64(stream_, offset, origin == SeekOrigin::kStart ? SEEK_SET : SEEK_END) == 0;
}

bool File::Tell(uint64_t* position) {
  if (stream_ == nullptr) return false;
  __int64 at = ::_ftelli64(stream_);
  if (at < 0) return false;
  *position = static_cast<uint64_t>(at);
  return true;
}

bool File::SetSize(uint64_t size) {
  if (stream_ == nullptr || !Noted(std::fflush(stream_) == 0)) return false;
  return Noted(::_chsize_s(::_fileno(stream_), static_cast<__int64>(size)) == 0);
}

bool File::Sync() {
  if (stream_ == nullptr || !Noted(std::fflush(stream_) == 0)) return false;
  // _commit calls FlushFileBuffers.
  return Noted(::_commit(::_fileno(stream_)) == 0);
}

bool File::FailedForWantOfSpace() const {
  // The C runtime maps ERROR_DISK_FULL to ENOSPC, but not ERROR_HANDLE_DISK_FULL.
  const DWORD error = ::GetLastError();
  if (errno == ENOSPC || error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return true;
  // A write cut short by a full disk may fail with no error of its own (Wine's C runtime
  // after a short write): then the file's volume, with no byte left, tells.
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream_)));
  wchar_t path[MAX_PATH * 4];
  const DWORD length = ::GetFinalPathNameByHandleW(handle, path, MAX_PATH * 4, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= MAX_PATH * 4) return false;
  std::u16string folder(reinterpret_cast<const char16_t*>(path), length);
  // "\\?\C:\..." as a plain drive path, the form every volume call takes.
  if (folder.rfind(u"\\\\?\\", 0) == 0 && folder.size() > 6 && folder[5] == u':') folder.erase(0, 4);
  const std::size_t slash = folder.find_last_of(u"\\/");
  if (slash == std::u16string::npos) return false;
  folder.resize(slash + 1);
  const std::optional<uint64_t> available = AvailableDiskSpace(folder);
  return available && *available == 0;
}

std::optional<uint64_t> AvailableDiskSpace(const std::u16string& folder) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(Wide(folder), &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

bool MakeDirectories(const std::u16string& path) {
  std::u16string native = path;
  for (char16_t& c : native)
    if (c == u'/') c = u'\\';
  DWORD attributes = ::GetFileAttributesW(Wide(native));
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // SHCreateDirectoryExW wants an absolute path.
  wchar_t full[MAX_PATH * 4];
  DWORD length = ::GetFullPathNameW(Wide(native), MAX_PATH * 4, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 4) return false;
  int result = ::SHCreateDirectoryExW(nullptr, full, nullptr);
  return result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS;
}

bool RemoveFile(const std::u16string& path) {
  return ::DeleteFileW(Wide(path)) != 0;
}

bool FileExists(const std::u16string& path) {
  DWORD attributes = ::GetFileAttributesW(Wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::u16string& path) {
  DWORD attributes = ::GetFileAttributesW(Wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RenameReplacing(const std::u16string& from, const std::u16string& to) {
  // Write-through: the rename is on disk when the call returns.
  return ::MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace platform
