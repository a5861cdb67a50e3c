// Which screen is the board's as the desktop's screens change: mirrors
// collapsed, the stored choice honoured or replaced by the primary, and what
// each look tells the administrator.

#include "display/BoardScreenFollower.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace oru {
namespace {

struct Look {
    std::vector<ScreenRecord> outputs;
    std::string choice;
    std::string expected;  // board, then the flags that are set, then the line
};

struct Scenario {
    const char* name;
    std::vector<Look> looks;
};

ScreenRecord out(const char* name, int x, int y, int w, int h, bool primary = false)
{
    return {name, x, y, w, h, primary};
}

std::string summary(const BoardScreenFollower::Update& u, const std::string& choice)
{
    std::string text = u.after ? describeScreen(*u.after) : "none";
    if (u.boardChanged) text += " | changed";
    if (u.layoutChanged) text += " | layout";
    if (u.tellChosenMissing) text += " | tell missing";
    if (u.first) {
        const std::string line = storedChoiceLine(u, choice);
        if (!line.empty()) text += " | " + line;
    } else if (u.boardChanged) {
        text += " | " + boardChangeLine(u, choice, "refitted");
    }
    return text;
}

TEST(BoardScreenFollower, FollowsTheChosenScreenOrThePrimaryAcrossChanges)
{
    const ScreenRecord panel = out("eDP-1", 0, 0, 1920, 1080, true);
    const ScreenRecord projector = out("HDMI-1", 1920, 0, 1366, 768);
    const std::string longName(65, 'A');
    const std::vector<Scenario> scenarios = {
        {"resolution change of the primary",
         {{{panel}, "", "eDP-1 1920x1080+0+0 primary | changed | layout"},
          {{out("eDP-1", 0, 0, 1366, 768, true)}, "",
           "eDP-1 1366x768+0+0 primary | changed | layout | oruDriver: board screen eDP-1 1920x1080+0+0 primary -> "
           "eDP-1 1366x768+0+0 primary: refitted"},
          {{out("eDP-1", 0, 0, 1366, 768, true)}, "", "eDP-1 1366x768+0+0 primary"}}},
        {"a screen added left of the primary moves the board, one added right only the layout",
         {{{panel}, "", "eDP-1 1920x1080+0+0 primary | changed | layout"},
          {{panel, projector}, "", "eDP-1 1920x1080+0+0 primary | layout"},
          {{out("HDMI-1", 0, 0, 1366, 768), out("eDP-1", 1366, 0, 1920, 1080, true)}, "",
           "eDP-1 1920x1080+1366+0 primary | changed | layout | oruDriver: board screen eDP-1 1920x1080+0+0 primary "
           "-> eDP-1 1920x1080+1366+0 primary: refitted"}}},
        {"mirrored outputs are one picture answering to every name; the primary's name leads",
         {{{out("HDMI-1", 0, 0, 1920, 1080), out("eDP-1", 0, 0, 1920, 1080, true)}, "HDMI-1",
           "eDP-1=HDMI-1 1920x1080+0+0 primary | changed | layout"},
          {{out("eDP-1", 0, 0, 1920, 1080, true), projector}, "HDMI-1",
           "HDMI-1 1366x768+1920+0 | changed | layout | oruDriver: board screen eDP-1=HDMI-1 1920x1080+0+0 primary "
           "-> HDMI-1 1366x768+1920+0: refitted"}}},
        {"a chosen screen that goes: the primary serves, told once, until it comes back",
         {{{panel, projector}, "HDMI-1", "HDMI-1 1366x768+1920+0 | changed | layout"},
          {{panel}, "HDMI-1",
           "eDP-1 1920x1080+0+0 primary | changed | layout | tell missing | oruDriver: board screen HDMI-1 "
           "1366x768+1920+0 -> eDP-1 1920x1080+0+0 primary: refitted; the chosen screen 'HDMI-1' is not connected, "
           "the primary screen serves until it is"},
          {{out("eDP-1", 0, 0, 1920, 1080, true)}, "HDMI-1", "eDP-1 1920x1080+0+0 primary"},
          {{panel, projector}, "HDMI-1",
           "HDMI-1 1366x768+1920+0 | changed | layout | oruDriver: board screen eDP-1 1920x1080+0+0 primary -> "
           "HDMI-1 1366x768+1920+0: refitted"},
          {{panel}, "HDMI-1",
           "eDP-1 1920x1080+0+0 primary | changed | layout | tell missing | oruDriver: board screen HDMI-1 "
           "1366x768+1920+0 -> eDP-1 1920x1080+0+0 primary: refitted; the chosen screen 'HDMI-1' is not connected, "
           "the primary screen serves until it is"}}},
        {"a stored screen missing at start",
         {{{panel}, "DP-2",
           "eDP-1 1920x1080+0+0 primary | changed | layout | tell missing | oruDriver: the stored board screen 'DP-2' "
           "is not connected; the primary screen eDP-1 1920x1080+0+0 primary serves until it is. Connect it, or "
           "choose another screen in the tray menu \"Tahta ekranı\""}}},
        {"unusable stored texts: the primary, said once",
         {{{panel, projector}, longName,
           "eDP-1 1920x1080+0+0 primary | changed | layout | oruDriver: the stored board screen (value "
           "BoardScreen_Text) can't be used (it is longer than 64 bytes); the primary screen eDP-1 1920x1080+0+0 "
           "primary serves. Choose the board's screen in the tray menu \"Tahta ekranı\"; the stored value is kept "
           "until then"},
          {{panel, projector}, longName, "eDP-1 1920x1080+0+0 primary"}}},
        {"control characters and blanks",
         {{{panel}, "HDMI\n-1",
           "eDP-1 1920x1080+0+0 primary | changed | layout | oruDriver: the stored board screen (value "
           "BoardScreen_Text) can't be used (it holds control characters); the primary screen eDP-1 1920x1080+0+0 "
           "primary serves. Choose the board's screen in the tray menu \"Tahta ekranı\"; the stored value is kept "
           "until then"}}},
        {"no primary listed (Wayland): the first screen; all screens gone: none",
         {{{out("", 0, 0, 1280, 800), out("DP-1", 1280, 0, 800, 600)}, "", "(unnamed) 1280x800+0+0 | changed | layout"},
          {{}, "",
           "none | changed | layout | oruDriver: board screen (unnamed) 1280x800+0+0 -> none: refitted"}}},
    };
    for (const Scenario& scenario : scenarios) {
        BoardScreenFollower follower;
        for (std::size_t i = 0; i < scenario.looks.size(); ++i) {
            const Look& look = scenario.looks[i];
            const auto update = follower.update(collapseMirrors(look.outputs), look.choice);
            EXPECT_EQ(summary(update, look.choice), look.expected) << scenario.name << ", look " << i;
        }
    }
}

TEST(BoardScreenFollower, BlankTextIsUnusableButEmptyMeansThePrimary)
{
    EXPECT_FALSE(boardChoiceProblem(""));
    EXPECT_FALSE(boardChoiceProblem(std::string(64, 'x')));
    EXPECT_EQ(boardChoiceProblem("   ").value_or(""), "it is blank");
    EXPECT_EQ(boardChoiceProblem("a\x7f").value_or(""), "it holds control characters");
}

} // namespace
} // namespace oru
