#pragma once
// Which of the four operation buttons each state of the workflow enables.

enum class ButtonSet { kWorking, kReady, kUpdateNeeded, kServerError, kDamagedFolder };

struct ButtonStates {
  bool play;
  bool check;
  bool update;
  bool manual;

  bool operator==(const ButtonStates&) const = default;
};

ButtonStates StatesOf(ButtonSet set);
