#pragma once
// One file of a two-file stream, with the bookkeeping the stream relies on.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

class FileStream {
 public:
  FileStream() = default;
  virtual ~FileStream();
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // 0 on success, otherwise the error number. Measures the length; position 0 afterwards.
  int Open(const std::u16string& path, platform::FileMode mode);
  void Close();
  bool Read(void* buffer, std::size_t count);
  bool Write(const void* buffer, std::size_t count);
  // The position field becomes offset (the stream seeks from the start only).
  bool Seek(uint64_t offset, platform::SeekOrigin origin);
  bool SetSize(uint64_t size);
  bool Flush();
  bool Sync();

  bool isOpen() const { return handle.isOpen(); }

  platform::File handle;
  std::u16string path;
  uint64_t length = 0;    // measured at open, raised by writes, never lowered here
  uint64_t position = 0;  // where this object believes the file position stands
};
