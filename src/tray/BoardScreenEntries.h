#pragma once

#include "display/DesktopScreens.h"

#include <string>
#include <vector>

namespace oru {

/// One line of the tray's "Tahta ekranı" submenu, whatever toolkit draws it.
struct BoardScreenEntry {
    bool separator = false;
    std::string text;    // UTF-8
    std::string choice;  // what choosing it stores: an output name, "" for the primary
    bool checked = false;
    bool enabled = true;
};

/// The "Tahta ekranı" submenu: "Birincil ekran" (the board follows whichever
/// screen is primary), a separator, one entry per screen, "NAME (WxH)" or
/// "NAME (WxH, birincil)", and a chosen screen that is not connected greyed
/// out. The current choice ("" for the primary) is checked.
std::vector<BoardScreenEntry> boardScreenEntries(const std::vector<DesktopScreen>& screens,
                                                 const std::string& choice);

} // namespace oru
