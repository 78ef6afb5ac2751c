#pragma once
// The commands of publish. Each takes the arguments after its name and returns the exit
// code: 0 done, 1 failed (reasons on stderr), 2 bad usage.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "release_signing.h"

inline constexpr int kFailedExit = 1;
inline constexpr int kUsageExit = 2;

// Reports a usage error with a pointer to --help; returns kUsageExit.
int BadUsage(const std::string& message);

int RunRelease(const std::vector<std::u16string>& arguments);
int RunVerify(const std::vector<std::u16string>& arguments);
int RunSample(const std::vector<std::u16string>& arguments);
int RunKeygen(const std::vector<std::u16string>& arguments);
int RunSign(const std::vector<std::u16string>& arguments);
int RunSync(const std::vector<std::u16string>& arguments);

// The options "--sign KEYFILE" (the key read at once) and "--expires-in DAYS" of a command
// that writes a release manifest; 0 when they are right, else the usage error's exit code.
int ParseSigning(ParsedArguments& parsed, std::optional<SecretKey>* key, int64_t* expiryDays);
