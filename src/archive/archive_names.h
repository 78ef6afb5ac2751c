#pragma once
// The fifteen archives of a client, in the order the client set opens them. A client
// path that begins with one of these names (then "\") lives in that archive.

#include <array>
#include <string_view>

inline constexpr std::array<std::u16string_view, 15> kArchiveNames = {
    u"help\\script", u"building", u"configs", u"facedata", u"gfx",      u"grasses",  u"interfaces", u"litmodels",
    u"loddata",      u"models",   u"sfx",     u"shaders",  u"surfaces", u"textures", u"trees"};

// Every archive holds its own copy of the client version as this entry.
inline constexpr std::u16string_view kVersionEntryName = u"version.sw";
