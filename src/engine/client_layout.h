#pragma once
// Where everything of a client lies, from one folder: the updater's own folder, whose parent is
// the client root. Every path is built here, by one rule, absolute with "." and ".." resolved
// lexically (none needs to exist):
//
//   <root>/<updater folder>/log.txt           the updater's log
//   <root>/velkar/                            the client: its program, archives and plain files
//   <root>/launcher/Launcher.exe              the launcher program
//   <root>/config/velkar/version.sw           the client version (written as version.sw.~part first)
//   <root>/config/patcher/version.sw          the updater's own version
//   <root>/config/patcher/release.sw          the highest signed release verified
//   <root>/config/patcher/nogfx.cfg           the graphics switch
//   <root>/config/patcher/tempfile.dat        a downloaded update package
//   <root>/config/patcher/tempfile.dat.resume what lets the next run take up its download
//   <root>/config/patcher/updater.lock        held by the console updater while it runs
//   <root>/config/patcher/staging/            temporary files of plain files being written, and
//                                             a large file's download with what takes it up,
//                                             and the chunks its new content takes from it
//   <root>/config/patcher/update/             the updater's new files, waiting for their swap
//   <root>/config/patcher/files.lst           the list the updater's files were brought to
//   <root>/config/launcher/...                the same three for the launcher program
//
// patcher.exe goes from its program folder for the archives and from its working folder for
// the programs, the switch and the log; patcher-cli from the root it is given.

#include <string>
#include <string_view>
#include <vector>

inline constexpr std::u16string_view kClientProgramName = u"velkarclient.exe";
inline constexpr std::u16string_view kLauncherProgramName = u"Launcher.exe";
// The updater's folder in a root that patcher-cli is given.
inline constexpr std::u16string_view kUpdaterFolderName = u"patcher";
inline constexpr std::u16string_view kUpdaterProgramName = u"patcher.exe";

// One of the updater's own programs as its own update sees it.
struct ProgramFolders {
  // The server's folder of its files: "patcher" or "launcher".
  std::u16string part;
  // Where its files live.
  std::u16string folder;
  // Where new files wait for the swap, beside its journal.
  std::u16string staging;
  std::u16string versionFile;
  // The list its files were last brought to: what a later list no longer names goes.
  std::u16string installedList;
};

class ClientLayout {
 public:
  explicit ClientLayout(const std::u16string& updaterFolder);
  // The layout of a client root, with the updater's folder in it.
  static ClientLayout OfRoot(const std::u16string& root);

  // The client root: the updater folder's parent.
  const std::u16string& root() const { return root_; }
  const std::u16string& updaterFolder() const { return updaterFolder_; }
  const std::u16string& clientFolder() const { return clientFolder_; }
  const std::u16string& clientProgram() const { return clientProgram_; }
  const std::u16string& launcherFolder() const { return launcherFolder_; }
  const std::u16string& launcherProgram() const { return launcherProgram_; }
  const std::u16string& clientVersionFile() const { return clientVersionFile_; }
  // Where a new client version is written before it is renamed over the version file.
  const std::u16string& clientVersionPart() const { return clientVersionPart_; }
  const std::u16string& patcherVersionFile() const { return patcherVersionFile_; }
  // The highest signed release the updater has verified, beside its own version.
  const std::u16string& verifiedReleaseFile() const { return verifiedReleaseFile_; }
  const std::u16string& graphicsSwitchFile() const { return graphicsSwitchFile_; }
  const std::u16string& packageFile() const { return packageFile_; }
  // The package's address, length and validator while its download is under way.
  const std::u16string& packageResumeFile() const { return packageResumeFile_; }
  const std::u16string& lockFile() const { return lockFile_; }
  const std::u16string& logFile() const { return logFile_; }
  // The temporary file a plain file is written into before it takes the file's place: outside
  // the client folder, so that it can never be a listed name.
  const std::u16string& plainFilePart() const { return plainFilePart_; }
  // The stored form of a large file of the file pass as it is downloaded, and what lets the
  // next run take it up.
  const std::u16string& fileDownloadPart() const { return fileDownloadPart_; }
  const std::u16string& fileDownloadResume() const { return fileDownloadResume_; }
  // The chunks a large file's new content takes from its target, put aside while it is made.
  const std::u16string& fileChunksPart() const { return fileChunksPart_; }

  // The updater's own folder and the launcher program's, for their own update.
  ProgramFolders PatcherProgram() const;
  ProgramFolders LauncherProgram() const;

  // An archive's files without their extension (".pck", ".pkx").
  std::u16string ArchiveBasePath(std::u16string_view archiveName) const;
  // A relative client path as a plain file under the client folder.
  std::u16string PlainFilePath(std::u16string_view relative) const;
  // Every file of its own the updater writes: the archives' files, the version files, the
  // switch, the package, the lock, the log, the staging file and the programs' own update.
  std::vector<std::u16string> WrittenFiles() const;

 private:
  std::u16string root_;
  std::u16string updaterFolder_;
  std::u16string clientFolder_;
  std::u16string clientProgram_;
  std::u16string launcherFolder_;
  std::u16string launcherProgram_;
  std::u16string clientVersionFile_;
  std::u16string clientVersionPart_;
  std::u16string patcherVersionFile_;
  std::u16string verifiedReleaseFile_;
  std::u16string graphicsSwitchFile_;
  std::u16string packageFile_;
  std::u16string packageResumeFile_;
  std::u16string lockFile_;
  std::u16string logFile_;
  std::u16string plainFilePart_;
  std::u16string fileDownloadPart_;
  std::u16string fileDownloadResume_;
  std::u16string fileChunksPart_;
};
