#include <utility>

#include "platform/file.h"

namespace platform {

File::File(File&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)),
      lastOp_(std::exchange(other.lastOp_, LastOp::kNone)),
      diskFull_(std::exchange(other.diskFull_, false)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    stream_ = std::exchange(other.stream_, nullptr);
    lastOp_ = std::exchange(other.lastOp_, LastOp::kNone);
    diskFull_ = std::exchange(other.diskFull_, false);
  }
  return *this;
}

void File::Close() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  lastOp_ = LastOp::kNone;
  diskFull_ = false;
}

// The C runtime requires a positioning call between a read and a following write
// (and a flush or positioning call between a write and a following read).
bool File::SwitchTo(LastOp op) {
  if (stream_ == nullptr) return false;
  if (lastOp_ != LastOp::kNone && lastOp_ != op && !RepositionInPlace()) return false;
  lastOp_ = op;
  return true;
}

bool File::Read(void* buffer, std::size_t count) {
  if (count == 0 || !SwitchTo(LastOp::kRead)) return false;
  return std::fread(buffer, count, 1, stream_) == 1;
}

bool File::Write(const void* buffer, std::size_t count) {
  if (count == 0 || !SwitchTo(LastOp::kWrite)) return false;
  return Noted(std::fwrite(buffer, count, 1, stream_) == 1);
}

bool File::Flush() {
  return stream_ != nullptr && Noted(std::fflush(stream_) == 0);
}

bool File::Noted(bool succeeded) {
  diskFull_ = !succeeded && FailedForWantOfSpace();
  return succeeded;
}

}  // namespace platform
