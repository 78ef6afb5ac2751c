#pragma once
// Command-line arguments of one command: positionals and "--name VALUE" (or
// "--name=VALUE") options, every option taking one value.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ParsedArguments {
  std::vector<std::u16string> positionals;
  std::map<std::string, std::vector<std::u16string>> options;
};

// False with the reason for an option not in `known`, or one without its value.
bool SplitArguments(const std::vector<std::u16string>& arguments, const std::vector<std::string>& known,
                    ParsedArguments* parsed, std::string* why);

// A decimal number from minimum to maximum, nothing else; false with the reason.
bool ParseNumber(const std::u16string& text, int64_t minimum, int64_t maximum, int64_t* value, std::string* why);
