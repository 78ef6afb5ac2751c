// One updater per client: the lock file in the client root's config\patcher folder.
#include "engine/updater_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/file.h"
#include "support/temp_folder.h"

namespace {

// Two updaters that start at the same moment on a client that never had one: one of them
// goes on, the other finds the folder in use, however the two interleave.
TEST(UpdaterLockTest, TwoAtTheSameMomentNeverBothGoOn) {
  testsupport::TempFolder temp;
  const ClientLayout layout = ClientLayout::OfRoot(temp.path().u16string());
  for (int round = 0; round < 200; ++round) {
    std::filesystem::remove(temp / "config" / "patcher" / "updater.lock");
    UpdaterLock first;
    UpdaterLock second;
    std::atomic<int> ready{0};
    UpdaterLock::Result results[2] = {};
    const auto claim = [&](UpdaterLock& lock, UpdaterLock::Result* result) {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      *result = lock.Acquire(layout);
    };
    std::thread a(claim, std::ref(first), &results[0]);
    std::thread b(claim, std::ref(second), &results[1]);
    a.join();
    b.join();
    const int acquired =
        (results[0] == UpdaterLock::Result::kAcquired) + (results[1] == UpdaterLock::Result::kAcquired);
    ASSERT_EQ(acquired, 1) << "round " << round;
#ifndef _WIN32
    // Windows has the updater's marker, which the other may find first; here the lock file
    // alone tells.
    const UpdaterLock::Result other = results[0] == UpdaterLock::Result::kAcquired ? results[1] : results[0];
    ASSERT_EQ(other, UpdaterLock::Result::kFolderInUse) << "round " << round;
#endif
  }
}

// A lock file that cannot even be made (its folder cannot be) is no sign of another updater.
TEST(UpdaterLockTest, ALockFileThatCannotBeMadeIsNoOtherUpdater) {
  testsupport::TempFolder temp;
  std::filesystem::create_directories(temp / "config");
  platform::File blocker;
  ASSERT_EQ(blocker.Open((temp / "config" / "patcher").u16string(), platform::FileMode::kCreate), 0);
  UpdaterLock lock;
  EXPECT_EQ(lock.Acquire(ClientLayout::OfRoot(temp.path().u16string())), UpdaterLock::Result::kAcquired);
}

}  // namespace
