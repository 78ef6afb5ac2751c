#pragma once
// patcher-cli's exit codes (listed in the usage text).

#include "workflow/update_workflow.h"

inline constexpr int kExitReady = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitDeclined = 2;
inline constexpr int kExitServerError = 3;
inline constexpr int kExitDamagedFolder = 4;
inline constexpr int kExitCancelled = 5;

// The code for where the workflow ended.
inline int ExitCodeOf(WorkflowState state) {
  switch (state) {
    case WorkflowState::kReady:
      return kExitReady;
    case WorkflowState::kUpdateNeeded:
      return kExitDeclined;
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
