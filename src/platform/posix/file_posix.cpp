#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file.h"
#include "platform/posix/posix_handles.h"
#include "platform/text.h"

namespace platform {
namespace {

std::string NativePath(const std::u16string& path) {
  std::string out = Utf8FromUtf16(path);
  // Client paths use "\" between folders; on POSIX every "\" is a separator.
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace

int File::Open(const std::u16string& path, FileMode mode) {
  Close();
  int flags = O_CLOEXEC;
  const char* stdioMode = "r+b";
  switch (mode) {
    case FileMode::kRead:
      flags |= O_RDONLY;
      stdioMode = "rb";
      break;
    case FileMode::kReadWrite:
      flags |= O_RDWR | O_NOFOLLOW;
      break;
    case FileMode::kCreate:
      // Not O_TRUNC: the file is emptied only once the lock is ours.
      flags |= O_RDWR | O_CREAT | O_NOFOLLOW;
      break;
  }
  // Closed on every failure below, after the error to return has been taken from errno.
  posix::UniqueFd fd(::open(NativePath(path).c_str(), flags, 0644));
  if (fd.get() < 0) return errno;
  // A folder opens read-only on POSIX; on Windows it does not open at all.
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode)) return S_ISDIR(info.st_mode) ? EISDIR : errno;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return (errno == EWOULDBLOCK) ? EACCES : errno;
  if (mode == FileMode::kCreate && ::ftruncate(fd.get(), 0) != 0) return errno;
  stream_ = ::fdopen(fd.get(), stdioMode);
  if (stream_ == nullptr) return errno;
  // The stream owns the descriptor now.
  fd.release();
  return 0;
}

bool File::RepositionInPlace() {
  return ::fseeko(stream_, 0, SEEK_CUR) == 0;
}

bool File::Seek(int64_t offset, SeekOrigin origin) {
  if (stream_ == nullptr) return false;
  lastOp_ = LastOp::kNone;
  return ::fseeko(stream_, static_cast<off_t>(offset), origin == SeekOrigin::kStart ? SEEK_SET : SEEK_END) == 0;
}

bool File::Tell(uint64_t* position) {
  if (stream_ == nullptr) return false;
  off_t at = ::ftello(stream_);
  if (at < 0) return false;
  *position = static_cast<uint64_t>(at);
  return true;
}

bool File::SetSize(uint64_t size) {
  if (stream_ == nullptr || !Noted(std::fflush(stream_) == 0)) return false;
  return Noted(::ftruncate(::fileno(stream_), static_cast<off_t>(size)) == 0);
}

bool File::Sync() {
  if (stream_ == nullptr || !Noted(std::fflush(stream_) == 0)) return false;
  return Noted(::fsync(::fileno(stream_)) == 0);
}

bool File::FailedForWantOfSpace() const {
  return errno == ENOSPC || errno == EDQUOT;
}

std::optional<uint64_t> AvailableDiskSpace(const std::u16string& folder) {
  struct statvfs volume {};
  if (::statvfs(NativePath(folder).c_str(), &volume) != 0) return std::nullopt;
  return static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
}

bool MakeDirectories(const std::u16string& path) {
  std::string native = NativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return false;
  struct stat info {};
  if (::stat(native.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  std::size_t slash = native.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!MakeDirectories(Utf16FromUtf8(native.substr(0, slash)))) return false;
  }
  if (::mkdir(native.c_str(), 0755) == 0) return true;
  return errno == EEXIST && ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool RemoveFile(const std::u16string& path) {
  return ::unlink(NativePath(path).c_str()) == 0;
}

bool FileExists(const std::u16string& path) {
  struct stat info {};
  return ::stat(NativePath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool FolderExists(const std::u16string& path) {
  struct stat info {};
  return ::stat(NativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsLink(const std::u16string& path) {
  struct stat info {};
  return ::lstat(NativePath(path).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool RenameReplacing(const std::u16string& from, const std::u16string& to) {
  const std::string target = NativePath(to);
  // rename would put a file in place of an empty folder; Windows refuses that, and so do we.
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
  return ::rename(NativePath(from).c_str(), target.c_str()) == 0;
}

}  // namespace platform
