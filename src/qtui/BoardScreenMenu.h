#pragma once

#include "display/DesktopScreens.h"

#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace oru {

/// Fills the tray's "Tahta ekranı" submenu afresh: "Birincil ekran" (the board
/// follows whichever screen is primary), then one entry per screen, "NAME
/// (WxH)" or "NAME (WxH, birincil)"; a chosen screen that is not connected is
/// listed greyed out. The current choice ("" for the primary) is checked;
/// choosing an entry calls choose with its choice.
void fillBoardScreenMenu(QMenu& menu, const std::vector<DesktopScreen>& screens, const std::string& choice,
                         const std::function<void(const std::string&)>& choose);

} // namespace oru
