#pragma once

#include "harness/PenSession.h"
#include "harness/XScreen.h"

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace oru::harness {

/// The tray host's strip along the top of the screen; canvases stay below it.
inline constexpr int kTrayStripPx = 32;

/// The driver's tray square: its colour says the driver's state.
enum class TrayColour { Absent, Red, Green, Blue };

struct TrayLook {
    TrayColour colour = TrayColour::Absent;
    ColourSpot spot;
};

/// The tray square in the tray strip, if one shows.
TrayLook lookAtTray(const XScreen& screen);

/// A popup menu as the screen shows it: its entries' rows, top to bottom.
struct MenuPicture {
    struct Line {
        int top, bottom;      // screen rows of its text, or of the whole entry when highlighted
        double plainShare;    // share of the rows' pixels in the menu's colour
        int rightmostMark;    // screen x of the entry's rightmost drawn pixel
        int marksAtRightEnd;  // drawn pixels in the last 24 columns: a submenu's arrow
    };
    std::vector<Line> lines;
    int separators = 0;

    /// The entry drawn in the highlight colour, or -1. Text leaves most of a
    /// plain entry's rows in the menu's colour; a highlight covers them.
    int highlighted() const;
    /// The same entries at the same rows and as many separators.
    bool sameShape(const MenuPicture& other) const;
};

/// Finds a menu's entries from the rows that differ from its most common
/// colour: rows marked across most of the width are a separator (1 or 2
/// rows) or a highlighted entry (5 rows or more); others are an entry's text,
/// with gaps of up to 2 rows (a dot, a cedilla) inside one entry of at least
/// 5 rows.
MenuPicture readMenu(const PixelBlock& block);

/// The tray menu as a user works it with the mouse: a right press on the
/// tray square, hovering over entries until the menu highlights them, a
/// click. The hand takes the mouse: the pen stays out of range throughout
/// (a pen in range would have the driver move the pointer back to it).
class TrayMenu {
public:
    struct Popup {
        XScreen::WindowInfo window;  // id 0: a menu the shell draws itself
        MenuPicture picture;
        PixelBlock beneath;  // a drawn menu's place before it opened
    };
    /// Whether a popup's picture is the one waited for, given the one read
    /// just before it (empty at first).
    using Shown = std::function<bool(const MenuPicture& now, const MenuPicture& before)>;

    TrayMenu(XScreen& screen, PenSession& pen) : screen_(screen), pen_(pen) {}

    /// Moves the pointer and waits until X shows it there.
    bool movePointerTo(int x, int y);

    /// Opens the menu with a right press on the tray square, moves the
    /// pointer off it (nothing highlighted) and waits until its picture is
    /// shown(). None, with what went wrong in detail, when that could not
    /// be done.
    std::optional<Popup> open(const Shown& shown, std::string& detail);
    /// Waits until a popup's picture is shown().
    std::optional<Popup> settle(const XScreen::WindowInfo& window, const Shown& shown, std::string& detail);
    /// Moves onto entry index and waits until it is highlighted.
    bool hover(const Popup& popup, int index);
    /// Hovers over entry index of menu and waits for the submenu it opens
    /// to be shown(); clicks the entry when a hover alone does not open it.
    std::optional<Popup> openSubmenu(const Popup& menu, int index, const Shown& shown, std::string& detail);
    /// A left click where the pointer is; waits until the popup has closed.
    bool clickAndWaitClosed(const Popup& popup);
    /// Waits until the popup has closed.
    bool waitClosed(const Popup& popup, std::chrono::milliseconds timeout);

    /// Shown: at least this many entries, the same in two looks in a row.
    static Shown settledWith(std::size_t minLines);

private:
    bool poll(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    std::set<Window> popupIds() const;
    bool smallPopup(const XScreen::WindowInfo& w) const;
    /// A menu a compositing shell draws in its own scene (GNOME Shell's),
    /// no X window of its own: the body of what changed below the tray
    /// strip since before, in the menu's colour, inside its rounded edge.
    std::optional<XScreen::WindowInfo> drawnMenu(const PixelBlock& before) const;
    MenuPicture look(const XScreen::WindowInfo& w) const;

    XScreen& screen_;
    PenSession& pen_;
};

} // namespace oru::harness
