#pragma once
// The updater's own programs replaced without ever leaving half of them. The new files wait,
// verified, in the staging folder's "new\"; a journal naming every file is written (whole or
// not at all); then each old file is copied aside into "old\" and its new one renamed over it
// (so a program's name never stands empty, not even for a moment), the files the new version no
// longer has are moved aside, the version file is written, and last the journal and the staging
// folder go. Each step is done again only where it was not: a swap cut short at any moment (a
// kill, a power loss) is finished by Recover at the next start of either program.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ProgramSwapPlan {
  // The folder whose files are replaced ("patcher\" of the client root).
  std::u16string target;
  // Names below the target ("skin\main.xml"), each staged under the staging folder's "new\".
  std::vector<std::u16string> replaced;
  // Names of the target the new version no longer has.
  std::vector<std::u16string> removed;
  // Written into the version file once every file is in place.
  int32_t version = 0;
};

class ProgramSwap {
 public:
  // Called after every step, for tests that cut a swap short between any two.
  using StepHook = std::function<void()>;

  ProgramSwap(std::u16string staging, std::u16string versionFile, StepHook afterStep = {})
      : staging_(std::move(staging)), versionFile_(std::move(versionFile)), afterStep_(std::move(afterStep)) {}

  // The folder the new files are to be staged in, by their names.
  std::u16string NewFolder() const;
  // A staging folder without a journal holds nothing that counts (files of a staging that never
  // got to its swap, or old files waiting to be deleted): cleared before the next staging.
  void ClearStaging() const;

  // Swaps the staged files in; false when a step failed (the journal stays: Recover finishes).
  bool Run(const ProgramSwapPlan& plan);

  enum class Recovery {
    kNothing,   // no swap was under way
    kFinished,  // an interrupted swap was finished and its version written
    kFailed,    // a journal is there but the swap could not be finished (see the log)
  };
  Recovery Recover();
  // Undoes a swap that could not be finished (a file that would not move): the old files
  // back in place, the new ones back in staging, then the staging cleared. A swap whose
  // version is written is over and is finished instead. False when a step failed; the
  // journal then stays, and the next start finishes the swap (as it does one whose undoing
  // was cut short).
  bool RollBack();

 private:
  bool WriteJournal(const ProgramSwapPlan& plan);
  bool ReadJournal(ProgramSwapPlan* plan) const;
  // The steps after the journal, each done only where it was not yet.
  bool Finish(const ProgramSwapPlan& plan);
  bool MoveAside(const ProgramSwapPlan& plan, const std::u16string& name);
  std::u16string OldPath(const std::u16string& name) const;
  bool WriteVersion(int32_t version);
  void Step() const {
    if (afterStep_) afterStep_();
  }

  const std::u16string staging_;
  const std::u16string versionFile_;
  const StepHook afterStep_;
};
