#include "app/client_paths.h"

#include <filesystem>

std::u16string NormalisedPath(const std::u16string& base, std::initializer_list<std::u16string_view> parts) {
  std::filesystem::path path(base);
  for (std::u16string_view part : parts) path /= std::filesystem::path(std::u16string(part));
  std::error_code ignored;
  std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  if (absolute.empty()) absolute = path;
  return absolute.lexically_normal().u16string();
}

std::u16string CurrentFolder() {
  std::error_code ignored;
  return std::filesystem::current_path(ignored).u16string();
}

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
