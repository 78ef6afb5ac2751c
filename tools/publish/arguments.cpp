#include "arguments.h"

#include <algorithm>

#include "report.h"

bool SplitArguments(const std::vector<std::u16string>& arguments, const std::vector<std::string>& valued,
                    const std::vector<std::string>& flags, ParsedArguments* parsed, std::string* why) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string text = Utf8(arguments[i]);
    if (optionsEnded || text.size() < 2 || text.compare(0, 2, "--") != 0) {
      parsed->positionals.push_back(arguments[i]);
      continue;
    }
    if (text == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = text.find('=');
    // Kept with its dashes: gcc 12 misreports a copy warning for "--" + a substring.
    const std::string option = text.substr(0, equals);
    const std::string name = option.substr(2);
    if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
      if (equals != std::string::npos) {
        *why = "option " + option + " takes no value";
        return false;
      }
      parsed->flags.insert(name);
      continue;
    }
    if (std::find(valued.begin(), valued.end(), name) == valued.end()) {
      *why = "unknown option " + option;
      return false;
    }
    if (equals != std::string::npos) {
      parsed->options[name].push_back(arguments[i].substr(equals + 1));
    } else if (i + 1 < arguments.size()) {
      parsed->options[name].push_back(arguments[++i]);
    } else {
      *why = "option " + option + " needs a value";
      return false;
    }
  }
  return true;
}

bool ParseNumber(const std::u16string& text, int64_t minimum, int64_t maximum, int64_t* value, std::string* why) {
  int64_t result = 0;
  bool digits = !text.empty() && text.size() <= 18;
  for (char16_t unit : text) {
    if (unit < u'0' || unit > u'9') {
      digits = false;
      break;
    }
    result = result * 10 + (unit - u'0');
  }
  if (!digits || result < minimum || result > maximum) {
    *why = Utf8(text);
    *why += " is not a number from " + std::to_string(minimum) + " to " + std::to_string(maximum);
    return false;
  }
  *value = result;
  return true;
}
