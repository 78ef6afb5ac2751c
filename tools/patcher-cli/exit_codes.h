#pragma once
// patcher-cli's exit codes (listed in the help text and the README). The usage code is
// the one every tool of the project uses.

#include "workflow/update_workflow.h"

inline constexpr int kExitReady = 0;
inline constexpr int kExitNotUpdated = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitServerError = 3;
inline constexpr int kExitDamagedFolder = 4;
inline constexpr int kExitCancelled = 5;
inline constexpr int kExitBusy = 6;

// The code for where the workflow ended.
inline int ExitCodeOf(WorkflowState state) {
  switch (state) {
    case WorkflowState::kReady:
    case WorkflowState::kPackageApplied:
      return kExitReady;
    case WorkflowState::kUpdateNeeded:
    case WorkflowState::kPackageNotApplied:
      return kExitNotUpdated;
    case WorkflowState::kPackageRefused:
      return kExitUsage;
    case WorkflowState::kServerError:
      return kExitServerError;
    case WorkflowState::kDamagedFolder:
      return kExitDamagedFolder;
    case WorkflowState::kStarting:
    case WorkflowState::kWorking:
    case WorkflowState::kCancelled:
      break;
  }
  return kExitCancelled;
}

// A word for each code, for the --json summary.
inline const char* OutcomeOf(int code) {
  switch (code) {
    case kExitReady:
      return "ready";
    case kExitNotUpdated:
      return "not-updated";
    case kExitUsage:
      return "usage-error";
    case kExitServerError:
      return "server-error";
    case kExitDamagedFolder:
      return "damaged-folder";
    case kExitCancelled:
      return "cancelled";
    case kExitBusy:
      return "busy";
  }
  return "unknown";
}
