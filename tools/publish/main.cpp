// publish: builds and checks the update server's file tree; makes sample clients.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/console.h"
#include "report.h"

namespace {

constexpr char kUsage[] =
    "usage: publish COMMAND ARGUMENTS\n"
    "\n"
    "  release SERVER_DIR CLIENT_DIR VERSION [options]\n"
    "      Adds release VERSION of the client data folder CLIENT_DIR (the fifteen archives and the\n"
    "      plain files, the updater's \"velkar\" folder) to the server tree SERVER_DIR: the stored\n"
    "      form of every file under files\\, fulllist, list_N for every client N releases behind\n"
    "      (back to the oldest release in the tree), the release's manifest under manifests\\,\n"
    "      then release.manifest (length and SHA-256 of every resource the updater reads, signed\n"
    "      into release.manifest.sig with --sign) and last the file version. VERSION must be\n"
    "      above every release already published.\n"
    "      Every argument is checked before anything is written: SERVER_DIR must be new, empty\n"
    "      or a tree publish made (so swapped arguments are refused), and CLIENT_DIR a client\n"
    "      folder with all fifteen archives (the client root above it is refused with the velkar\n"
    "      folder to give). Hidden files and folders (names starting with \".\")\n"
    "      and system litter (Thumbs.db, desktop.ini, .DS_Store) among the plain files are\n"
    "      skipped with a note. Warns when an archive has no version.sw entry, when the version\n"
    "      files disagree with VERSION, and when the release changes nothing.\n"
    "      --package-from V       also an update package from release V (repeatable), stored\n"
    "                             as patches\\V-VERSION.cup and named in patches\\list\n"
    "      --package-url-base U   where the updater downloads packages: http://HOST/PATH; the\n"
    "                             updater always uses port 80 and ignores any port in U\n"
    "      --patcher-version M    writes patcher_version_new, the updater version the server expects\n"
    "      --patcher-files DIR    the updater's own folder (patcher.exe, skin\\...), published under\n"
    "                             patcher\\ with its list patcher\\list; needs --patcher-version\n"
    "      --launcher-files DIR   the launcher program's folder, published the same way under\n"
    "                             launcher\\\n"
    "      --sign KEYFILE         signs the release manifest with the operator's key (publish keygen)\n"
    "      --expires-in DAYS      how long the signed manifest counts (default 30, at most 366)\n"
    "      --jobs N               threads that read, hash and compress the files (default: one per\n"
    "                             core); the release is the same, byte for byte, for any N\n"
    "      --dry-run              prints what the release would add, change and delete (per archive\n"
    "                             and for the plain files) and the packages it would build;\n"
    "                             writes nothing\n"
    "      --json                 one JSON object with the outcome on stdout; the report goes to stderr\n"
    "\n"
    "  verify SERVER_DIR [--key HEX] [--json]\n"
    "      Checks every stored file of fulllist (present, inflates to its size, has its MD5), the\n"
    "      chunk index of each file above 1 MiB and every chunk it names (they must make the file),\n"
    "      every list_N against fulllist, and every package of patches\\list against the releases\n"
    "      it joins, and release.manifest against the tree; with --key (the public key) also the\n"
    "      signature and the expiry, warning when it comes within 7 days. One line on stderr\n"
    "      per problem.\n"
    "\n"
    "  keygen KEYFILE\n"
    "      Writes a new secret key into KEYFILE (refused when it exists; readable by its owner\n"
    "      alone) and prints the public key, 64 hexadecimal digits, alone on stdout.\n"
    "\n"
    "  sign SERVER_DIR KEYFILE [--expires-in DAYS]\n"
    "      Signs the tree's release manifest anew: before the signed one expires, or with a\n"
    "      new key after a rotation.\n"
    "\n"
    "  sync SERVER_DIR REMOTE [--rclone PATH] [--rclone-config FILE] [--dry-run]\n"
    "      Uploads the tree SERVER_DIR to REMOTE, anything rclone reaches (\"s3:bucket/path\" of a\n"
    "      remote in rclone's configuration, a folder), in an order that is safe for clients\n"
    "      reading it meanwhile: chunks, stored files, packages, the updater's files and manifests\n"
    "      first, then the lists, release.manifest and its signature, then version, and only\n"
    "      then deletes the objects the tree no longer holds. Chunks get \"Cache-Control: public,\n"
    "      max-age=31536000, immutable\", every other object \"Cache-Control: no-cache\". The lock\n"
    "      file and publish's temporary files stay behind. A failed step stops before version\n"
    "      (exit 1); running the command again finishes the upload.\n"
    "      --rclone PATH          the rclone program (default: rclone on PATH)\n"
    "      --rclone-config FILE   rclone's configuration file (its --config)\n"
    "      --dry-run              prints the steps and their rclone commands; uploads nothing\n"
    "\n"
    "  sample ROOT VERSION [--files N] [--size-mb M] [--seed S]\n"
    "      Writes a made-up client of release VERSION into the new folder ROOT: ROOT\\velkar with\n"
    "      all fifteen archives and plain files, ROOT\\config\\velkar\\version.sw and every archive's\n"
    "      version.sw holding VERSION. Release 1 has N ordinary files (default 3000) and large\n"
    "      ones, about M MB in all (default 32); each later release derives from the one before\n"
    "      by changing, deleting and adding files in archives and plain files. The same\n"
    "      arguments give the same bytes on every machine.\n"
    "\n"
    "Options may come before, between or after the arguments, as --opt VALUE or --opt=VALUE;\n"
    "after \"--\" every argument is taken as it stands. --help shows this text, --version the\n"
    "program's version.\n"
    "Serving the tree: tools/publish/nginx/solmere-update.conf, or publish sync to object storage\n"
    "(see the README).\n"
    "Exit codes: 0 done, 1 failed (reasons on stderr), 2 bad usage.\n";

// The line shown with a usage error: the command's own, or the tool's.
constexpr char kToolUsage[] = "usage: publish release|verify|sign|keygen|sync|sample ARGUMENTS...";
const char* usageLine = kToolUsage;

struct Command {
  const char* name;
  const char* usage;
  int (*run)(const std::vector<std::u16string>& arguments);
};

const Command kCommands[] = {
    {"release",
     "usage: publish release SERVER_DIR CLIENT_DIR VERSION [--package-from V]... [--package-url-base U]"
     " [--patcher-version M [--patcher-files DIR] [--launcher-files DIR]] [--sign KEYFILE [--expires-in DAYS]] [--jobs "
     "N] [--dry-run] [--json]",
     RunRelease},
    {"keygen", "usage: publish keygen KEYFILE", RunKeygen},
    {"sign", "usage: publish sign SERVER_DIR KEYFILE [--expires-in DAYS]", RunSign},
    {"verify", "usage: publish verify SERVER_DIR [--key HEX] [--json]", RunVerify},
    {"sync", "usage: publish sync SERVER_DIR REMOTE [--rclone PATH] [--rclone-config FILE] [--dry-run]", RunSync},
    {"sample", "usage: publish sample ROOT VERSION [--files N] [--size-mb M] [--seed S]", RunSample},
};

int Run(const std::vector<std::u16string>& arguments) {
  if (arguments.empty()) return BadUsage("no command given");
  const std::string command = Utf8(arguments[0]);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("publish (Solmere Classic Updater) %s\n", SOLMERE_VERSION);
    return 0;
  }
  for (const Command& candidate : kCommands)
    if (command == candidate.name) {
      usageLine = candidate.usage;
      return candidate.run({arguments.begin() + 1, arguments.end()});
    }
  return BadUsage("unknown command " + command);
}

}  // namespace

int BadUsage(const std::string& message) {
  ReportError(message);
  std::fprintf(stderr, "%s\nTry \"publish --help\" for more information.\n", usageLine);
  return kUsageExit;
}

int main(int argc, char** argv) {
  platform::SetBinaryStandardStreams();
  int code = kFailedExit;
  try {
    code = Run(platform::CommandLineArguments(argc, argv));
  } catch (const std::exception& failure) {
    // Allocation, or a path the platform cannot convert: still a message and an exit code.
    ReportError(std::string("error: ") + failure.what());
  } catch (...) {
    ReportError("error: an unexpected failure");
  }
  if (JsonOutput()) std::fputs(JsonObject(code).c_str(), stdout);
  return std::fflush(stdout) == 0 ? code : kFailedExit;
}
