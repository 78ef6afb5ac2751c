// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>
// The C runtime's and the shell's, after it.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <shlobj.h>

#include <cerrno>
#include <string>

#include "platform/file.h"
#include "platform/win32/win32_handles.h"

namespace platform {
namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    default:
      return EIO;
  }
}

// Where the open handle leads, every link resolved; empty when the system cannot say.
std::wstring FinalPathOf(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
  if (length >= path.size()) {
    path.resize(length);
    length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
  }
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  return path;
}

std::wstring FinalPathOfFolder(const std::wstring& folder) {
  win32::UniqueHandle handle(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) return {};
  return FinalPathOf(handle.get());
}

// True when the open file is the one its path names and no link leads to it: neither a
// reparse point itself nor, as the system resolves it, anywhere but in its folder under its
// name (Wine shows a link to a file as the file it leads to).
bool ReachedWithoutLink(HANDLE handle, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return false;
  std::wstring full(MAX_PATH * 4, L'\0');
  wchar_t* name = nullptr;
  const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), &name);
  if (length == 0 || length >= full.size() || name == nullptr) return false;
  const std::wstring fileName(name);
  full.resize(static_cast<std::size_t>(name - full.data()));
  const std::wstring expected = FinalPathOfFolder(full);
  const std::wstring reached = FinalPathOf(handle);
  if (expected.empty() || reached.empty()) return false;
  const std::wstring wanted = expected.back() == L'\\' ? expected + fileName : expected + L"\\" + fileName;
  return ::CompareStringOrdinal(wanted.c_str(), static_cast<int>(wanted.size()), reached.c_str(),
                                static_cast<int>(reached.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

int File::Open(const std::u16string& path, FileMode mode) {
  Close();
  if (mode == FileMode::kRead) {
    // Share-deny both: nobody else reads or writes the file while we hold it.
    errno = 0;
    stream_ = ::_wfsopen(Wide(path), L"rb", _SH_DENYRW);
    if (stream_ == nullptr) return errno != 0 ? errno : EACCES;
    return 0;
  }
  // What is written is opened by handle, so that a link can be seen before a byte changes:
  // the reparse point itself is opened, never what it leads to.
  const std::wstring native(Wide(path));
  win32::UniqueHandle handle(::CreateFileW(native.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           mode == FileMode::kCreate ? OPEN_ALWAYS : OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) return ErrnoOf(::GetLastError());
  if (!ReachedWithoutLink(handle.get(), native)) return ELOOP;
  // Emptied only when there is something to take away: Wine refuses even that on a full disk.
  LARGE_INTEGER size{};
  if (mode == FileMode::kCreate && (!::GetFileSizeEx(handle.get(), &size) || size.QuadPart > 0) &&
      !::SetEndOfFile(handle.get()))
    return ErrnoOf(::GetLastError());
  const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_RDWR | _O_BINARY);
  if (descriptor < 0) return EIO;
  // The descriptor owns the handle now.
  handle.release();
  stream_ = ::_wfdopen(descriptor, L"r+b");
  if (stream_ == nullptr) {
    ::_close(descriptor);
    return EIO;
  }
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
  const std::wstring path = FinalPathOf(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream_))));
  if (path.empty()) return false;
  std::u16string folder(path.begin(), path.end());
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

bool IsLink(const std::u16string& path) {
  // Junctions, symbolic links and mount points are all reparse points; Wine shows a link to
  // a folder as one too.
  DWORD attributes = ::GetFileAttributesW(Wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  // A link to a file Wine shows as the file: only where the system resolves it tells.
  const std::wstring native(Wide(path));
  win32::UniqueHandle handle(::CreateFileW(native.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return handle.get() != INVALID_HANDLE_VALUE && !ReachedWithoutLink(handle.get(), native);
}

bool RenameReplacing(const std::u16string& from, const std::u16string& to) {
  // Write-through: the rename is on disk when the call returns.
  return ::MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace platform
