#include "engine/client_layout.h"

#include "archive/archive_names.h"
#include "base/paths.h"

ClientLayout::ClientLayout(const std::u16string& updaterFolder)
    : root_(NormalisedPath(updaterFolder, {u".."})),
      updaterFolder_(updaterFolder),
      clientFolder_(NormalisedPath(updaterFolder, {u"..", u"velkar"})),
      clientProgram_(NormalisedPath(updaterFolder, {u"..", u"velkar", kClientProgramName})),
      launcherFolder_(NormalisedPath(updaterFolder, {u"..", u"launcher"})),
      launcherProgram_(NormalisedPath(updaterFolder, {u"..", u"launcher", kLauncherProgramName})),
      clientVersionFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"velkar", u"version.sw"})),
      clientVersionPart_(clientVersionFile_ + u".~part"),
      patcherVersionFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"version.sw"})),
      verifiedReleaseFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"release.sw"})),
      graphicsSwitchFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"nogfx.cfg"})),
      packageFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"tempfile.dat"})),
      packageResumeFile_(packageFile_ + u".resume"),
      lockFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"updater.lock"})),
      logFile_(NormalisedPath(updaterFolder, {u"log.txt"})),
      plainFilePart_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"staging", u"file.~part"})),
      fileDownloadPart_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"staging", u"download.~part"})),
      fileDownloadResume_(fileDownloadPart_ + u".resume"),
      fileChunksPart_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"staging", u"chunks.~part"})) {}

ClientLayout ClientLayout::OfRoot(const std::u16string& root) {
  return ClientLayout(NormalisedPath(root, {kUpdaterFolderName}));
}

ProgramFolders ClientLayout::PatcherProgram() const {
  return {u"patcher", updaterFolder_, NormalisedPath(updaterFolder_, {u"..", u"config", u"patcher", u"update"}),
          patcherVersionFile_, NormalisedPath(updaterFolder_, {u"..", u"config", u"patcher", u"files.lst"})};
}

ProgramFolders ClientLayout::LauncherProgram() const {
  return {u"launcher", launcherFolder_, NormalisedPath(root_, {u"config", u"launcher", u"update"}),
          NormalisedPath(root_, {u"config", u"launcher", u"version.sw"}),
          NormalisedPath(root_, {u"config", u"launcher", u"files.lst"})};
}

std::u16string ClientLayout::ArchiveBasePath(std::u16string_view archiveName) const {
  return JoinedPath(clientFolder_, archiveName);
}

std::u16string ClientLayout::PlainFilePath(std::u16string_view relative) const {
  return JoinedPath(clientFolder_, relative);
}

std::vector<std::u16string> ClientLayout::WrittenFiles() const {
  std::vector<std::u16string> files;
  for (std::u16string_view name : kArchiveNames) {
    const std::u16string base = ArchiveBasePath(name);
    files.push_back(base + u".pck");
    files.push_back(base + u".pkx");
  }
  for (const std::u16string* file : {&clientVersionFile_, &clientVersionPart_, &patcherVersionFile_,
                                     &verifiedReleaseFile_, &graphicsSwitchFile_, &packageFile_, &packageResumeFile_,
                                     &lockFile_, &logFile_, &plainFilePart_, &fileDownloadPart_, &fileDownloadResume_})
    files.push_back(*file);
  const ProgramFolders patcher = PatcherProgram();
  const ProgramFolders launcher = LauncherProgram();
  for (const std::u16string& file :
       {patcher.installedList, JoinedPath(patcher.staging, u"journal"), launcher.versionFile, launcher.installedList,
        JoinedPath(launcher.staging, u"journal")})
    files.push_back(file);
  return files;
}
