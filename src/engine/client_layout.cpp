#include "engine/client_layout.h"

#include "base/paths.h"

ClientLayout::ClientLayout(const std::u16string& updaterFolder)
    : updaterFolder_(updaterFolder),
      clientFolder_(NormalisedPath(updaterFolder, {u"..", u"velkar"})),
      clientProgram_(NormalisedPath(updaterFolder, {u"..", u"velkar", kClientProgramName})),
      launcherFolder_(NormalisedPath(updaterFolder, {u"..", u"launcher"})),
      launcherProgram_(NormalisedPath(updaterFolder, {u"..", u"launcher", kLauncherProgramName})),
      clientVersionFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"velkar", u"version.sw"})),
      patcherVersionFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"version.sw"})),
      graphicsSwitchFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"nogfx.cfg"})),
      packageFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"tempfile.dat"})),
      lockFile_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"updater.lock"})),
      logFile_(NormalisedPath(updaterFolder, {u"log.txt"})),
      plainFilePart_(NormalisedPath(updaterFolder, {u"..", u"config", u"patcher", u"staging", u"file.~part"})) {}

ClientLayout ClientLayout::OfRoot(const std::u16string& root) {
  return ClientLayout(NormalisedPath(root, {kUpdaterFolderName}));
}

std::u16string ClientLayout::ArchiveBasePath(std::u16string_view archiveName) const {
  return JoinedPath(clientFolder_, archiveName);
}

std::u16string ClientLayout::PlainFilePath(std::u16string_view relative) const {
  return JoinedPath(clientFolder_, relative);
}
