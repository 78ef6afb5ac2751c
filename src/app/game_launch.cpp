#include "app/game_launch.h"

#include "base/number_file.h"
#include "platform/desktop.h"

std::u16string ClientArguments(bool noGraphics) {
  return noGraphics ? u"console:0 arc:1 nogfx" : u"console:0 arc:1";
}

bool StartGameClient(Desktop& desktop, const ClientLayout& layout, bool noGraphics) {
  return desktop.StartProgram(layout.clientProgram(), ClientArguments(noGraphics), layout.clientFolder());
}

bool ReadGraphicsSwitch(const ClientLayout& layout) {
  return ReadOrCreateNumberFile(layout.graphicsSwitchFile()) != 0;
}

void WriteGraphicsSwitch(const ClientLayout& layout, bool on) {
  WriteNumberFile(layout.graphicsSwitchFile(), on ? 1 : 0);
}
