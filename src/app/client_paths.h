#pragma once
// Where the updater finds the client root's programs and settings. Start-up and the
// graphics switch go from the working folder (the updater's own folder when started
// normally); the client archive set goes from the program folder. Every path is made
// absolute with "." and ".." resolved lexically, and need not exist.

#include <string>
#include <string_view>

#include "base/paths.h"

// base\..\velkar and the game client program in it.
std::u16string ClientFolderFrom(const std::u16string& base);
std::u16string ClientProgramFrom(const std::u16string& base);
// base\..\launcher and the launcher program in it, which brings the updater itself up to date.
std::u16string LauncherFolderFrom(const std::u16string& base);
std::u16string LauncherProgramFrom(const std::u16string& base);
// base\..\config\patcher\nogfx.cfg.
std::u16string GraphicsSwitchPathFrom(const std::u16string& base);

inline constexpr std::u16string_view kClientProgramName = u"velkarclient.exe";
inline constexpr std::u16string_view kLauncherProgramName = u"Launcher.exe";
// The game client's window class, looked for before anything is updated.
inline constexpr std::u16string_view kClientWindowClass = u"ZVelkarClient Window";

// The game client's whole command line: its program name is not part of it.
std::u16string ClientArguments(bool noGraphics);
