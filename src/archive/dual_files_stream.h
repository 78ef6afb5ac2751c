#pragma once
// A logical byte stream kept in two files: ".pck" below the split size, ".pkx" from it on,
// so that neither file grows past 2 GiB while the stream does.

#include <cstdint>
#include <string>

#include "archive/file_stream.h"

inline constexpr char16_t kFirstExtension[] = u".pck";
inline constexpr char16_t kContinuationExtension[] = u".pkx";
inline constexpr uint64_t kNoSplit = ~uint64_t{0};

class DualFilesStream {
 public:
  DualFilesStream() = default;
  virtual ~DualFilesStream();
  DualFilesStream(const DualFilesStream&) = delete;
  DualFilesStream& operator=(const DualFilesStream&) = delete;

  // Opens basePath + ".pck" with firstMode and, if present, basePath + ".pkx".
  // Returns 0 or the ".pck" open error. With kRead nothing is ever written or created.
  int OpenFiles(const std::u16string& basePath, platform::FileMode firstMode);
  void CloseFiles();
  bool Read(void* buffer, uint32_t count);
  bool Write(const void* buffer, uint32_t count);
  bool Seek(uint64_t newPosition);
  // Shrinks the logical length; never grows it.
  bool Truncate(uint64_t newLength);
  bool OpenContinuation();
  // Hands everything written so far to the system, so that a full disk shows now.
  bool Flush();
  // Waits until everything written so far has reached the disk.
  bool Sync();
  // Whether the write, flush or sync that just failed did for want of disk space.
  bool diskFull() const { return first.handle.diskFull() || continuation.handle.diskFull(); }

  FileStream first;
  FileStream continuation;
  uint64_t position = 0;
  uint64_t length = 0;
  bool firstOpen = false;
  bool continuationOpen = false;
  std::u16string pendingContinuationPath;
  uint64_t splitSize = kNoSplit;
};
