#include "archive/file_stream.h"

#include <algorithm>
#include <cerrno>

FileStream::~FileStream() {
  Close();
}

int FileStream::Open(const std::u16string& newPath, platform::FileMode mode) {
  Close();
  path = newPath;
  int error = handle.Open(path, mode);
  if (error != 0) return error;
  uint64_t end = 0;
  if (!handle.Seek(0, platform::SeekOrigin::kEnd) || !handle.Tell(&end) ||
      !handle.Seek(0, platform::SeekOrigin::kStart)) {
    handle.Close();
    return EIO;
  }
  length = end;
  position = 0;
  return 0;
}

void FileStream::Close() {
  handle.Close();
  path.clear();
  length = 0;
  position = 0;
}

bool FileStream::Read(void* buffer, std::size_t count) {
  if (!handle.Read(buffer, count)) return false;
  position += count;
  return true;
}

bool FileStream::Write(const void* buffer, std::size_t count) {
  if (!handle.Write(buffer, count)) return false;
  position += count;
  length = std::max(length, position);
  return true;
}

bool FileStream::Seek(uint64_t offset, platform::SeekOrigin origin) {
  position = offset;
  return handle.Seek(static_cast<int64_t>(offset), origin);
}

bool FileStream::SetSize(uint64_t size) {
  return handle.SetSize(size);
}

bool FileStream::Sync() {
  return handle.Sync();
}
bool FileStream::Flush() {
  return handle.Flush();
}
