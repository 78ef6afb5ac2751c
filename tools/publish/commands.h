#pragma once
// The commands of publish. Each takes the arguments after its name and returns the exit
// code: 0 done, 1 failed (reasons on stderr), 2 bad usage.

#include <string>
#include <vector>

inline constexpr int kFailedExit = 1;
inline constexpr int kUsageExit = 2;

// Reports a usage error with a pointer to --help; returns kUsageExit.
int BadUsage(const std::string& message);

int RunRelease(const std::vector<std::u16string>& arguments);
int RunVerify(const std::vector<std::u16string>& arguments);
int RunSample(const std::vector<std::u16string>& arguments);
