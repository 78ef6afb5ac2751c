#pragma once
// Runs another program (rclone) to its end, its output going to publish's own.

#include <string>
#include <vector>

// Whether this build of publish can run another program; on Windows it cannot yet.
bool CanRunPrograms();

// Runs `program` (looked up on PATH when it has no folder) with `arguments` and waits for it:
// true with its exit code (128 + the signal when one ended it), false with the reason when it
// could not be started.
bool RunProgram(const std::string& program, const std::vector<std::string>& arguments, int* exitCode, std::string* why);
