#pragma once
// patcher-cli's command line.

#include <cstdint>
#include <string>
#include <vector>

enum class CliCommand { kUpdate, kCheck, kApply };

struct CliOptions {
  CliCommand command = CliCommand::kUpdate;
  // The package of "apply".
  std::u16string packagePath;
  // The client root; empty: the parent of the program's own folder, as the updater has it.
  std::u16string root;
  // Empty: the built-in update server.
  std::u16string serverHost;
  uint16_t port = 0;
  bool yes = false;
  bool help = false;
};

// False with the reason in `error` for a command line that makes no sense.
bool ParseArguments(const std::vector<std::u16string>& arguments, CliOptions* options, std::string* error);

extern const char kUsage[];
