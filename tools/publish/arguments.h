#pragma once
// Command-line arguments of one command: positionals, "--name VALUE" (or "--name=VALUE")
// options, "--name" flags, and "--" after which every argument is a positional.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct ParsedArguments {
  std::vector<std::u16string> positionals;
  std::map<std::string, std::vector<std::u16string>> options;
  std::set<std::string> flags;
};

// False with the reason for an option in neither list, a valued one without its value,
// or a flag given a value.
bool SplitArguments(const std::vector<std::u16string>& arguments, const std::vector<std::string>& valued,
                    const std::vector<std::string>& flags, ParsedArguments* parsed, std::string* why);

// A decimal number from minimum to maximum, nothing else; false with the reason.
bool ParseNumber(const std::u16string& text, int64_t minimum, int64_t maximum, int64_t* value, std::string* why);
