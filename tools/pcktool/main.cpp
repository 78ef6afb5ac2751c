// pcktool: inspect, extract, pack and verify package archives.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/console.h"
#include "report.h"

namespace {

constexpr int kUsageExit = 2;

constexpr char kUsage[] =
    "usage: pcktool COMMAND ARGUMENTS\n"
    "\n"
    "  list ARCHIVE                     entries sorted by full name: name, length, stored length (tabs)\n"
    "  cat ARCHIVE FULLNAME             an entry's contents on standard output\n"
    "  verify ARCHIVE                   read and inflate every entry; one line on stderr per damaged entry\n"
    "  extract ARCHIVE FOLDER           write every entry to FOLDER\\<full name>\n"
    "  pack FOLDER ARCHIVE NAME         create ARCHIVE holding every file under FOLDER as NAME\\<path>\n"
    "  add ARCHIVE FULLNAME FILE        store FILE as FULLNAME and commit\n"
    "  rm ARCHIVE FULLNAME              remove FULLNAME and commit\n"
    "\n"
    "ARCHIVE is the archive's path with or without \".pck\" (a \".pkx\" beside it is used too).\n"
    "The archive is opened under the base name of its file (\"configs\" for data/configs.pck).\n"
    "A full name is the archive's name, \"\\\", then the path inside it: configs\\models\\a.txt\n"
    "(\"/\" is accepted for \"\\\"; letters A-Z match in either case). NAME may itself hold\n"
    "a \"\\\", as in help\\script. pack never replaces an existing archive, and no command\n"
    "recreates an archive that cannot be opened. Opening an archive cuts off what an\n"
    "interrupted write left after its last commit, as the updater does.\n"
    "\n"
    "Exit codes: 0 done, 1 failed (reasons on stderr), 2 bad usage.\n";

struct Command {
  const char* name;
  std::size_t argumentCount;
  int (*run)(const std::vector<std::u16string>& arguments);
};

const Command kCommands[] = {
    {"list", 1, [](const auto& a) { return RunList(a[0]); }},
    {"cat", 2, [](const auto& a) { return RunCat(a[0], a[1]); }},
    {"verify", 1, [](const auto& a) { return RunVerify(a[0]); }},
    {"extract", 2, [](const auto& a) { return RunExtract(a[0], a[1]); }},
    {"pack", 3, [](const auto& a) { return RunPack(a[0], a[1], a[2]); }},
    {"add", 3, [](const auto& a) { return RunAdd(a[0], a[1], a[2]); }},
    {"rm", 2, [](const auto& a) { return RunRemove(a[0], a[1]); }},
};

int BadUsage(const std::string& message) {
  ReportError(message);
  std::fputs(kUsage, stderr);
  return kUsageExit;
}

int Run(const std::vector<std::u16string>& arguments) {
  if (arguments.empty()) return BadUsage("no command given");
  const std::string command = Utf8(arguments[0]);
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  for (const Command& candidate : kCommands) {
    if (command != candidate.name) continue;
    const std::vector<std::u16string> rest(arguments.begin() + 1, arguments.end());
    if (rest.size() != candidate.argumentCount)
      return BadUsage(command + " takes " + std::to_string(candidate.argumentCount) + " argument(s), got " +
                      std::to_string(rest.size()));
    return candidate.run(rest);
  }
  return BadUsage("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  // cat writes entries byte for byte, and messages read the same on every platform.
  platform::SetBinaryStandardStreams();
  try {
    return Run(platform::CommandLineArguments(argc, argv));
  } catch (const std::exception& failure) {
    // Only allocation can throw here; it still ends as a message and an exit code.
    ReportError(std::string("error: ") + failure.what());
    return 1;
  } catch (...) {
    ReportError("error: an unexpected failure");
    return 1;
  }
}
