#pragma once
// Starting the game client, and its graphics switch (the client's no-graphics mode), kept in
// the switch file of the client root as one number: 1 on, 0 off.

#include <string>
#include <string_view>

#include "engine/client_layout.h"

class Desktop;

// The game client's window class, looked for before anything is updated.
inline constexpr std::u16string_view kClientWindowClass = u"ZVelkarClient Window";

// The game client's whole command line: its program name is not part of it.
std::u16string ClientArguments(bool noGraphics);

// Starts the layout's game client detached, in its folder; false when it did not start.
bool StartGameClient(Desktop& desktop, const ClientLayout& layout, bool noGraphics);

// The switch file of the layout, created holding 0 when missing.
bool ReadGraphicsSwitch(const ClientLayout& layout);
void WriteGraphicsSwitch(const ClientLayout& layout, bool on);
