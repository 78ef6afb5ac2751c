#include "app/client_paths.h"

std::u16string ClientFolderFrom(const std::u16string& base) {
  return NormalisedPath(base, {u"..", u"velkar"});
}

std::u16string ClientProgramFrom(const std::u16string& base) {
  return NormalisedPath(base, {u"..", u"velkar", kClientProgramName});
}

std::u16string LauncherFolderFrom(const std::u16string& base) {
  return NormalisedPath(base, {u"..", u"launcher"});
}

std::u16string LauncherProgramFrom(const std::u16string& base) {
  return NormalisedPath(base, {u"..", u"launcher", kLauncherProgramName});
}

std::u16string GraphicsSwitchPathFrom(const std::u16string& base) {
  return NormalisedPath(base, {u"..", u"config", u"patcher", u"nogfx.cfg"});
}

std::u16string ClientArguments(bool noGraphics) {
  return noGraphics ? u"console:0 arc:1 nogfx" : u"console:0 arc:1";
}
