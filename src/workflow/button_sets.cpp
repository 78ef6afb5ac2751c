#include "workflow/button_sets.h"

ButtonStates StatesOf(ButtonSet set) {
  switch (set) {
    case ButtonSet::kWorking:
      return {false, false, false, false};
    case ButtonSet::kReady:
      return {true, true, false, false};
    case ButtonSet::kUpdateNeeded:
      return {false, true, true, true};
    case ButtonSet::kServerError:
      return {true, true, true, true};
    case ButtonSet::kDamagedFolder:
      return {true, true, false, false};
  }
  return {false, false, false, false};
}
