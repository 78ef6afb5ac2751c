#include "archive/dual_files_stream.h"

#include <algorithm>

using platform::FileMode;
using platform::SeekOrigin;

DualFilesStream::~DualFilesStream() {
  CloseFiles();
}

int DualFilesStream::OpenFiles(const std::u16string& basePath, FileMode firstMode) {
  int error = first.Open(basePath + kFirstExtension, firstMode);
  if (error != 0) return error;
  firstOpen = true;
  length = first.length;
  position = 0;
  const std::u16string continuationPath = basePath + kContinuationExtension;
  // Read-only, the continuation is read-only too, and a missing one is never created.
  const bool readOnly = firstMode == FileMode::kRead;
  if (continuation.Open(continuationPath, readOnly ? FileMode::kRead : FileMode::kReadWrite) == 0) {
    length += continuation.length;
    continuationOpen = true;
    pendingContinuationPath.clear();
  } else {
    continuationOpen = false;
    pendingContinuationPath = readOnly ? std::u16string() : continuationPath;
  }
  return 0;
}

void DualFilesStream::CloseFiles() {
  first.Close();
  continuation.Close();
  firstOpen = false;
  continuationOpen = false;
}

bool DualFilesStream::Read(void* buffer, uint32_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  const uint64_t end = position + count;
  if (end <= splitSize) {
    if (!firstOpen || !first.Read(bytes, count)) return false;
    position = end;
    return true;
  }
  if (position < splitSize) {
    const uint64_t k = splitSize - position;
    if (!firstOpen || !first.Read(bytes, static_cast<std::size_t>(k))) return false;
    position += k;
    if (!continuationOpen) return false;
    continuation.Seek(0, SeekOrigin::kStart);
    if (!continuation.Read(bytes + k, static_cast<std::size_t>(count - k))) return false;
    position = end;
    return true;
  }
  if (!continuationOpen || !continuation.Read(bytes, count)) return false;
  position = end;
  return true;
}

bool DualFilesStream::Write(const void* buffer, uint32_t count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  const uint64_t end = position + count;
  if (end <= splitSize) {
    if (!firstOpen || !first.Write(bytes, count)) return false;
  } else if (position < splitSize) {
    const uint64_t k = splitSize - position;
    if (!firstOpen || !first.Write(bytes, static_cast<std::size_t>(k))) return false;
    position += k;
    if (!continuationOpen && !OpenContinuation()) return false;
    continuation.Seek(0, SeekOrigin::kStart);
    if (!continuation.Write(bytes + k, static_cast<std::size_t>(count - k))) return false;
  } else {
    if (!continuationOpen && !OpenContinuation()) return false;
    if (!continuation.Write(bytes, count)) return false;
  }
  position = end;
  length = std::max(length, position);
  return true;
}

bool DualFilesStream::Seek(uint64_t newPosition) {
  if (newPosition < splitSize) {
    bool ok = first.Seek(newPosition, SeekOrigin::kStart);
    if (continuationOpen) ok = continuation.Seek(0, SeekOrigin::kStart) && ok;
    if (ok) position = newPosition;
    return ok;
  }
  // The first file's end; its recorded length is the base of continuation offsets.
  const bool firstOk = firstOpen && first.Seek(0, SeekOrigin::kEnd);
  first.position = first.length;
  if (!continuationOpen && !OpenContinuation()) {
    if (firstOk) position = newPosition;
    return firstOk;
  }
  const bool ok = continuation.Seek(newPosition - first.length, SeekOrigin::kStart) && firstOk;
  if (ok) position = newPosition;
  return ok;
}

bool DualFilesStream::Truncate(uint64_t newLength) {
  if (newLength >= length) return true;
  const uint64_t firstLength = first.length;
  if (newLength <= firstLength) {
    bool ok = first.SetSize(newLength);
    if (ok && continuationOpen) ok = continuation.SetSize(0);
    if (ok) length = newLength;
    return ok;
  }
  if (!continuationOpen) {
    length = newLength;
    return true;
  }
  if (!continuation.SetSize(newLength - firstLength)) return false;
  length = newLength;
  return true;
}

bool DualFilesStream::OpenContinuation() {
  if (pendingContinuationPath.empty()) return false;
  if (continuation.Open(pendingContinuationPath, FileMode::kCreate) != 0) return false;
  pendingContinuationPath.clear();
  continuationOpen = true;
  return true;
}

bool DualFilesStream::Flush() {
  bool ok = !firstOpen || first.Flush();
  if (continuationOpen) ok = continuation.Flush() && ok;
  return ok;
}

bool DualFilesStream::Sync() {
  bool ok = !firstOpen || first.Sync();
  if (continuationOpen) ok = continuation.Sync() && ok;
  return ok;
}
