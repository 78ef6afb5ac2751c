#pragma once
// patcher-cli's command line, read the GNU way: "--opt value" or "--opt=value", options
// anywhere, and "--" before a FILE that begins with "-".

#include <cstdint>
#include <string>
#include <vector>

#include "net/update_server_address.h"

enum class CliCommand { kUpdate, kCheck, kApply };

struct CliOptions {
  CliCommand command = CliCommand::kUpdate;
  // The package of "apply".
  std::u16string packagePath;
  // The client root as given; empty: found from the working folder (client_root.h).
  std::u16string root;
  // --server, repeatable: the update server and its mirrors in the order tried; empty: the
  // built-in ones.
  std::vector<UpdateServerAddress> servers;
  // --release-key, at most two, each checked: the keys that replace the built-in ones.
  std::vector<std::string> releaseKeys;
  // --limit-rate: body bytes a second at most; 0: no cap.
  uint64_t limitRate = 0;
  // --connections: downloads of the file pass at once, 1 to 8; 0: the engine's default.
  int connections = 0;
  bool yes = false;
  bool json = false;
  bool help = false;
  bool version = false;
};

// False with the reason in `error` (Russian, one line) for a command line that makes no sense.
bool ParseArguments(const std::vector<std::u16string>& arguments, CliOptions* options, std::string* error);

// The whole help (--help), the short usage line with its pointer to --help (after a usage
// error), and the --version text.
extern const char kHelpText[];
extern const char kUsageHint[];
std::string VersionText();
