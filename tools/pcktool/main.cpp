// pcktool: inspect, extract, pack and verify archives (.pck/.pkx).

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/console.h"
#include "report.h"

namespace {

constexpr char kHelp[] =
    "usage: pcktool COMMAND ARGUMENTS\n"
    "\n"
    "Reading (the archive's files are never changed):\n"
    "  list ARCHIVE                     entries sorted by full name: name, length, stored length (tabs)\n"
    "  cat ARCHIVE FULLNAME             an entry's contents on standard output\n"
    "  verify ARCHIVE                   read and inflate every entry; one line on stderr per damaged entry\n"
    "  extract ARCHIVE DIR [FULLNAME...] [--no-overwrite]\n"
    "                                   write every entry, or the ones named, to DIR\\<full name>;\n"
    "                                   with --no-overwrite a file that is there already is kept\n"
    "                                   (the summary line counts them)\n"
    "Writing (each change is committed before the command ends):\n"
    "  pack FOLDER ARCHIVE NAME         create ARCHIVE holding every file under FOLDER as NAME\\<path>\n"
    "  add ARCHIVE FULLNAME FILE        store FILE as FULLNAME (a name extract would refuse is refused)\n"
    "  rm ARCHIVE FULLNAME              remove FULLNAME\n"
    "  repair ARCHIVE                   cut what an interrupted write left after the last commit\n"
    "\n"
    "ARCHIVE is the archive's path as NAME.pck, NAME.pkx or NAME (a \".pkx\" beside the \".pck\" is\n"
    "its continuation past 2 GiB and is used too); a path with any other extension is refused.\n"
    "The archive is opened under the base name of its file (\"configs\" for data/configs.pck).\n"
    "A full name is the archive's name, \"\\\", then the path inside it: configs\\models\\a.txt\n"
    "(\"/\" is accepted for \"\\\"; letters A-Z match in either case). NAME may itself hold a \"\\\",\n"
    "as in help\\script; pack warns when NAME is not one of the updater's fifteen archive names\n"
    "(help\\script, building, configs, facedata, gfx, grasses, interfaces, litmodels, loddata,\n"
    "models, sfx, shaders, surfaces, textures, trees), which the updater would not read. pack\n"
    "never replaces an existing archive, and no command recreates an archive that cannot be\n"
    "opened. Bytes after the last commit (an interrupted write) are reported by the reading\n"
    "commands and cut by the writing ones, as the updater cuts them when it opens an archive.\n"
    "\n"
    "Options may stand anywhere; after \"--\" every argument is taken as it stands. --help shows\n"
    "this text, --version the program's version.\n"
    "Exit codes: 0 done, 1 failed (reasons on stderr), 2 bad usage.\n";

struct Options {
  bool noOverwrite = false;
};

struct Command {
  const char* name;
  std::size_t minimumArguments;
  std::size_t maximumArguments;
  const char* usage;
  int (*run)(const std::vector<std::u16string>& arguments, const Options& options);
};

constexpr std::size_t kAny = ~std::size_t{0};

const Command kCommands[] = {
    {"list", 1, 1, "usage: pcktool list ARCHIVE", [](const auto& a, const Options&) { return RunList(a[0]); }},
    {"cat", 2, 2, "usage: pcktool cat ARCHIVE FULLNAME",
     [](const auto& a, const Options&) { return RunCat(a[0], a[1]); }},
    {"verify", 1, 1, "usage: pcktool verify ARCHIVE", [](const auto& a, const Options&) { return RunVerify(a[0]); }},
    {"extract", 2, kAny, "usage: pcktool extract ARCHIVE DIR [FULLNAME...] [--no-overwrite]",
     [](const auto& a, const Options& o) {
       return RunExtract(a[0], a[1], std::vector<std::u16string>(a.begin() + 2, a.end()), o.noOverwrite);
     }},
    {"pack", 3, 3, "usage: pcktool pack FOLDER ARCHIVE NAME",
     [](const auto& a, const Options&) { return RunPack(a[0], a[1], a[2]); }},
    {"add", 3, 3, "usage: pcktool add ARCHIVE FULLNAME FILE",
     [](const auto& a, const Options&) { return RunAdd(a[0], a[1], a[2]); }},
    {"rm", 2, 2, "usage: pcktool rm ARCHIVE FULLNAME",
     [](const auto& a, const Options&) { return RunRemove(a[0], a[1]); }},
    {"repair", 1, 1, "usage: pcktool repair ARCHIVE", [](const auto& a, const Options&) { return RunRepair(a[0]); }},
};

int BadUsage(const std::string& message, const char* usage) {
  ReportError(message);
  std::fprintf(stderr, "%s\nTry \"pcktool --help\" for more information.\n", usage);
  return kUsageExit;
}

int Run(const std::vector<std::u16string>& arguments) {
  constexpr char kToolUsage[] = "usage: pcktool list|cat|verify|extract|pack|add|rm|repair ARGUMENTS...";
  std::vector<std::u16string> words;
  Options options;
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  for (const std::u16string& argument : arguments) {
    if (optionsEnded || argument.size() < 2 || argument[0] != u'-') {
      words.push_back(argument);
      continue;
    }
    const std::string option = Utf8(argument);
    if (option == "--") {
      optionsEnded = true;
    } else if (option == "--no-overwrite") {
      options.noOverwrite = true;
    } else if (option == "--help" || option == "-h") {
      help = true;
    } else if (option == "--version") {
      version = true;
    } else if (option.rfind("--no-overwrite=", 0) == 0) {
      return BadUsage("option --no-overwrite takes no value", kToolUsage);
    } else {
      return BadUsage("unknown option " + option, kToolUsage);
    }
  }
  if (help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (version) {
    std::printf("pcktool (Solmere Classic Updater) %s\n", SOLMERE_VERSION);
    return 0;
  }
  if (words.empty()) return BadUsage("no command given", kToolUsage);
  const std::string command = Utf8(words[0]);
  for (const Command& candidate : kCommands) {
    if (command != candidate.name) continue;
    const std::vector<std::u16string> rest(words.begin() + 1, words.end());
    if (rest.size() < candidate.minimumArguments || rest.size() > candidate.maximumArguments)
      return BadUsage(
          command + " takes " +
              (candidate.maximumArguments == kAny ? std::to_string(candidate.minimumArguments) + " or more arguments"
                                                  : std::to_string(candidate.minimumArguments) + " argument(s)") +
              ", got " + std::to_string(rest.size()),
          candidate.usage);
    if (options.noOverwrite && command != "extract")
      return BadUsage("--no-overwrite is an option of extract", candidate.usage);
    return candidate.run(rest, options);
  }
  return BadUsage("unknown command " + command, kToolUsage);
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
    return kFailedExit;
  } catch (...) {
    ReportError("error: an unexpected failure");
    return kFailedExit;
  }
}
