#pragma once
// Whether an entry's target (its archive entry, or the plain file in the client folder)
// already holds the content that a file list or an update package names, read, inflated
// and hashed in pieces. Several checks may run at once on threads of their own, each with
// a TargetCheck of its own: an archive is read only under its lock (see
// ClientArchives::LockOf), so one thread may store into it meanwhile.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/stored_content.h"
#include "formats/file_list.h"
#include "platform/md5.h"

class ClientArchives;
class ClientLayout;
class TavrinFilePackage;

// Content a target is compared with as the target is read, when that content is at hand
// (an update package's record, checked already): a target that holds other bytes is told
// apart at the first of them, without being read, inflated and hashed to its end.
class ExpectedContent {
 public:
  virtual ~ExpectedContent() = default;
  // Whether the next `count` bytes of the content are `data`; false too when the content
  // ends sooner or cannot be had.
  virtual bool Next(const uint8_t* data, std::size_t count) = 0;
};

enum class TargetState : uint8_t {
  kUnknown,    // not looked at: a deletion, a refused path, an archive that is not open
  kMatches,    // the target holds the listed content
  kDiffers,    // it does not, or it is missing or cannot be read
  kBrokenOff,  // the check was stopped before it could tell
};

class TargetCheck {
 public:
  // `stopped`, when given, is asked between pieces; once it answers true the check ends
  // with kBrokenOff.
  TargetCheck(ClientArchives& archives, const ClientLayout& layout, std::function<bool()> stopped = nullptr);

  // `entry` is one of a list or a package: a relative client path and what it is to become.
  // With `expected` (the entry's content, of the entry's size and digest) the target
  // matches only when it holds those very bytes, which it then also has the digest of; a
  // target of another size differs without being read.
  TargetState Run(const ListEntry& entry, ExpectedContent* expected = nullptr);

 private:
  TargetState Archived(TavrinFilePackage& archive, std::mutex& mutex, const std::u16string& entryName,
                       const FileInfo& info, ExpectedContent* expected);
  TargetState Plain(const std::u16string& relative, const FileInfo& info, ExpectedContent* expected);
  // kDiffers for a check that failed, unless it failed because it was stopped.
  TargetState Failed() const;
  bool Stopped() const { return stopped_ && stopped_(); }

  ClientArchives& archives_;
  const ClientLayout& layout_;
  const std::function<bool()> stopped_;
  // Reused from entry to entry.
  StoredContent content_;
  std::vector<uint8_t> piece_;
};
