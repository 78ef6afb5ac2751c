#include "arguments.h"

#include "platform/text.h"

const char kUsage[] =
    "usage: patcher-cli [OPTIONS] [check | apply FILE]\n"
    "\n"
    "  (no command)        open the client's archives, compare its version with the update\n"
    "                      server's and, after the offer's count-down, update it\n"
    "  check               check every client file against the server's full list (asks first)\n"
    "  apply FILE          apply an update package file from disk\n"
    "\n"
    "  --root DIR          the client root (holding velkar and config); default: the parent\n"
    "                      of this program's folder\n"
    "  --server HOST[:PORT]  the update server; default: the built-in one\n"
    "  --yes               answer every question yes at once\n"
    "  --help              this text\n"
    "\n"
    "Questions are asked on the terminal, with their count-downs. Without a terminal a\n"
    "question without a count-down is answered no, one with a count-down yes when it runs\n"
    "out; unattended (no terminal, or --yes) the same question is answered yes at most three\n"
    "times. Ctrl+C while files are checked or a package is applied cancels it, as the\n"
    "updater's close button does. The log is written to log.txt in the working folder.\n"
    "\n"
    "Exit codes: 0 the client is ready to play, 1 bad usage, 2 the client still needs an\n"
    "update (declined, or it kept failing) or the check was declined, 3 update server error,\n"
    "4 damaged client folder (try check), 5 cancelled.\n";

namespace {

bool Fail(std::string* error, std::string reason) {
  *error = std::move(reason);
  return false;
}

bool ParseServer(const std::u16string& text, CliOptions* options) {
  const std::size_t colon = text.rfind(u':');
  options->serverHost = text.substr(0, colon);
  options->port = 80;
  if (colon != std::u16string::npos) {
    const std::u16string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    uint32_t port = 0;
    for (char16_t c : digits) {
      if (c < u'0' || c > u'9') return false;
      port = port * 10 + static_cast<uint32_t>(c - u'0');
    }
    if (port == 0 || port > 65535) return false;
    options->port = static_cast<uint16_t>(port);
  }
  return !options->serverHost.empty();
}

}  // namespace

bool ParseArguments(const std::vector<std::u16string>& arguments, CliOptions* options, std::string* error) {
  std::vector<std::u16string> words;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::u16string& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == u"--yes") {
      options->yes = true;
    } else if (argument == u"--help" || argument == u"-h") {
      options->help = true;
    } else if (argument == u"--root") {
      if (!hasValue) return Fail(error, "--root needs a folder");
      options->root = arguments[++i];
      if (options->root.empty()) return Fail(error, "--root needs a folder");
    } else if (argument == u"--server") {
      if (!hasValue || !ParseServer(arguments[++i], options))
        return Fail(error, "--server needs HOST or HOST:PORT with a port from 1 to 65535");
    } else if (argument.size() > 1 && argument[0] == u'-') {
      return Fail(error, "unknown option " + platform::Utf8FromUtf16(argument));
    } else {
      words.push_back(argument);
    }
  }
  if (words.empty()) return true;
  if (words[0] == u"check" && words.size() == 1) {
    options->command = CliCommand::kCheck;
    return true;
  }
  if (words[0] == u"apply" && words.size() == 2) {
    options->command = CliCommand::kApply;
    options->packagePath = words[1];
    return true;
  }
  if (words[0] == u"apply") return Fail(error, "apply needs exactly one FILE");
  return Fail(error, "unknown command " + platform::Utf8FromUtf16(words[0]));
}
