#pragma once
// The fifteen archives of a client, in the order the client set opens them. A client
// path that begins with one of these names (then "\") lives in that archive.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

inline constexpr std::array<std::u16string_view, 15> kArchiveNames = {
    u"help\\script", u"building", u"configs", u"facedata", u"gfx",      u"grasses",  u"interfaces", u"litmodels",
    u"loddata",      u"models",   u"sfx",     u"shaders",  u"surfaces", u"textures", u"trees"};

// The archive a relative client path lives in, by index into kArchiveNames: the first whose
// name begins the path. A plain prefix test, case-sensitive, with no separator required after
// the name (so "modelsX\a.ski" lives in "models"); "/" counts as "\". None: a plain file.
// The updater and publish both go by this.
inline std::optional<std::size_t> ArchiveOfPath(std::u16string_view path) {
  const auto separator = [](char16_t c) { return c == u'\\' || c == u'/'; };
  for (std::size_t i = 0; i < kArchiveNames.size(); ++i) {
    const std::u16string_view name = kArchiveNames[i];
    if (path.size() < name.size()) continue;
    bool same = true;
    for (std::size_t at = 0; at < name.size() && same; ++at)
      same = path[at] == name[at] || (separator(path[at]) && separator(name[at]));
    if (same) return i;
  }
  return std::nullopt;
}

// Every archive holds its own copy of the client version as this entry.
inline constexpr std::u16string_view kVersionEntryName = u"version.sw";
