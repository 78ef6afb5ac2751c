#pragma once
// One of the updater's own programs (the updater's folder, the launcher program's) brought to
// the files its part of the server lists. Every listed file whose size or MD5 differs from the
// one in place is downloaded into the staging folder and checked against the list; only once
// all of them are staged does the swap (ProgramSwap) put them in, move aside what the list no
// longer names, and write the version. Nothing in the program's folder changes before that,
// and a swap an earlier run left unfinished is finished first.

#include <cstdint>
#include <optional>
#include <string>

#include "base/operation_context.h"
#include "engine/client_layout.h"
#include "engine/disk_space.h"
#include "engine/program_swap.h"
#include "formats/file_list.h"
#include "net/fetch_result.h"

class ServerProtocol;

struct ProgramUpdateResult {
  enum class Outcome {
    kUpdated,       // the new files are in place and the version is written
    kUpToDate,      // nothing differed and the version file holds the list's version
    kNoList,        // the server lists no files of this program (HTTP 404)
    kFetchFailed,   // the list or a file did not arrive (see request)
    kUnreadable,    // the list is not one
    kUnverified,    // with release keys: the list does not match the signed release manifest
    kOtherVersion,  // the list is of another version than the one the server announces
    kBadName,       // the list names a file the updater may not take (see file)
    kWrongContent,  // a file came but is not what the list says (see file)
    kWriteFailed,   // a file could not be staged (see file, diskFull)
    kSwapFailed,    // the swap could not be done: undone, or (when that failed too) left for the next start
    kCancelled,
  };
  Outcome outcome = Outcome::kFetchFailed;
  // The list's version, once it came.
  int32_t version = -1;
  FailedRequest request;
  std::u16string file;
  std::optional<DiskShortage> diskFull;
  // Files downloaded and staged.
  uint32_t filesStaged = 0;

  bool succeeded() const { return outcome == Outcome::kUpdated || outcome == Outcome::kUpToDate; }
};

class ProgramUpdate {
 public:
  // Called after each file is downloaded, after each is staged, after each step of the swap
  // and after the list is kept: for tests that cut an update short between any two.
  using StepHook = ProgramSwap::StepHook;

  // `server` must outlive the update.
  ProgramUpdate(ServerProtocol& server, ProgramFolders program, StepHook afterStep = {});
  ProgramUpdate(const ProgramUpdate&) = delete;
  ProgramUpdate& operator=(const ProgramUpdate&) = delete;

  // Finishes a swap an earlier run left (ProgramSwap::Recover).
  ProgramSwap::Recovery Recover();
  // `expected`: the version the list must be of (what "patcher_version_new" says); -1 takes
  // the list's own. The files of the context's progress are the files that differ.
  ProgramUpdateResult Run(const OperationContext& context, int32_t expected = -1);

 private:
  // Downloads and checks one file into the staging folder.
  ProgramUpdateResult::Outcome Stage(const OperationContext& context, const ListEntry& entry,
                                     ProgramUpdateResult* result);
  bool InPlace(const ListEntry& entry) const;
  void Step() const {
    if (afterStep_) afterStep_();
  }

  ServerProtocol& server_;
  const ProgramFolders program_;
  const StepHook afterStep_;
  ProgramSwap swap_;
};

// English words for log lines and messages: "the list did not arrive".
std::u16string ProgramUpdateOutcomeText(ProgramUpdateResult::Outcome outcome);
