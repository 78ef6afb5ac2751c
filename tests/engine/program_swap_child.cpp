// The program swap tests' child: runs the scenario's swap and ends the process at once, as a
// kill would, after step KILL_AT (0: never).
//
// usage: program_swap_child STAGING TARGET VERSION_FILE KILL_AT

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/program_swap_scenario.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: program_swap_child STAGING TARGET VERSION_FILE KILL_AT\n");
    return 2;
  }
  const int killAt = std::atoi(argv[4]);
  int steps = 0;
  ProgramSwap swap(platform::Utf16FromUtf8(argv[1]), platform::Utf16FromUtf8(argv[3]), [&] {
    if (++steps == killAt) std::_Exit(9);
  });
  return swap.Run(testsupport::SwapPlan(std::filesystem::path(platform::Utf16FromUtf8(argv[2])))) ? 0 : 1;
}
