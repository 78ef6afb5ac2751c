#include "program_run.h"

// publish sync needs rclone run as a child with its arguments quoted for CreateProcessW; until
// that is written, the Windows build refuses sync with a clear message instead.
bool CanRunPrograms() {
  return false;
}

bool RunProgram(const std::string& program, const std::vector<std::string>&, int*, std::string* why) {
  *why = "cannot run " + program + ": this Windows build of publish runs no other program";
  return false;
}
