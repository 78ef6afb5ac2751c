#pragma once
// Files by UTF-16 path, opened for exclusive use, with 64-bit positions.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace platform {

enum class FileMode {
  kRead,       // "rb": an existing file, reading only
  kReadWrite,  // "rb+": an existing file, reading and writing
  kCreate,     // "wb+": created or emptied, reading and writing
};

enum class SeekOrigin { kStart, kEnd };

// One open file. While it is open no other process (and no other File of this
// process) can open the same file: share-deny on Windows, flock on POSIX.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // 0 on success, otherwise an errno value (EACCES when another holder has the file).
  // A file opened to be written is never reached through a link: kReadWrite and kCreate
  // fail with ELOOP when the path's last component is a symbolic link (on Windows also a
  // junction or other reparse point, or a file the system resolves elsewhere).
  int Open(const std::u16string& path, FileMode mode);
  void Close();
  bool isOpen() const { return stream_ != nullptr; }

  // Transfers exactly count bytes at the current position; a count of 0 fails,
  // as a single item of size zero does in the C runtime.
  bool Read(void* buffer, std::size_t count);
  bool Write(const void* buffer, std::size_t count);

  bool Seek(int64_t offset, SeekOrigin origin);
  bool Tell(uint64_t* position);
  // Grows or shrinks the file; the current position is left where it was.
  bool SetSize(uint64_t size);
  // Pushes buffered bytes to the operating system and waits until they reach the disk.
  bool Sync();
  // Pushes buffered bytes to the operating system, without waiting for the disk.
  bool Flush();
  // Whether the last write, flush, sync or size change failed for want of disk space
  // (ENOSPC; ERROR_DISK_FULL or ERROR_HANDLE_DISK_FULL on Windows).
  bool diskFull() const { return diskFull_; }

 private:
  enum class LastOp { kNone, kRead, kWrite };
  bool SwitchTo(LastOp op);
  bool RepositionInPlace();
  // Takes the outcome of a call that writes: on failure, whether the disk was full.
  bool Noted(bool succeeded);
  // Whether the call that just failed failed for want of disk space.
  bool FailedForWantOfSpace() const;

  std::FILE* stream_ = nullptr;
  LastOp lastOp_ = LastOp::kNone;
  bool diskFull_ = false;
};

// Creates a folder and every missing parent; true when the folder exists afterwards.
bool MakeDirectories(const std::u16string& path);
// Deletes one file; true when it was deleted.
bool RemoveFile(const std::u16string& path);
bool FileExists(const std::u16string& path);
bool FolderExists(const std::u16string& path);
// True when the path's last component is itself a symbolic link, or on Windows any reparse
// point (a junction, a symbolic link, a mount point): what it leads to is not looked at.
bool IsLink(const std::u16string& path);
// Bytes this process may still write on the volume that holds `folder`; none when the
// system does not tell.
std::optional<uint64_t> AvailableDiskSpace(const std::u16string& folder);
// Renames a file over another on the same volume, replacing it in one step: whoever opens
// `to` finds either the old file or the new one. The old one may not be open elsewhere.
bool RenameReplacing(const std::u16string& from, const std::u16string& to);

}  // namespace platform
