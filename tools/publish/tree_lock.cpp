#include "tree_lock.h"

#include <cerrno>
#include <string>

#include "report.h"
#include "tree_files.h"

bool LockTree(const std::filesystem::path& root, bool dryRun, platform::File* lock) {
  const std::u16string path = (root / kLockName).u16string();
  if (dryRun) {
    if (!platform::FileExists(path) || lock->Open(path, platform::FileMode::kRead) != EACCES) return true;
  } else if (lock->Open(path, platform::FileMode::kCreate) == 0) {
    return true;
  }
  ReportError("another publish is working on " + PathText(root) + " (or it is not writable)");
  return false;
}
