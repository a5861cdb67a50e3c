#pragma once

#include "display/DesktopScreens.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace oru {

/// Longest stored board screen name taken, in bytes. Output names are short
/// ("HDMI-A-1", "DP-3"); a longer text is a damaged value.
inline constexpr std::size_t kBoardScreenNameMaxBytes = 64;

/// What makes a stored board screen text unusable, in English ("longer than
/// 64 bytes", "it holds control characters", "it is blank"), or nothing. ""
/// is the default: the board is whichever screen is primary.
std::optional<std::string> boardChoiceProblem(const std::string& choice);

/// Follows which screen is the board's across changes of the desktop's
/// screens: the chosen one ("" or an unusable text: the primary), else the
/// primary while the chosen one is not connected.
class BoardScreenFollower {
public:
    struct Update {
        bool first = false;          // the first look at the screens
        bool boardChanged = false;   // the board appeared, went, or changed name, geometry or primary-ness
        bool layoutChanged = false;  // some screen changed: the pointer's range covers them all
        std::optional<DesktopScreen> before;
        std::optional<DesktopScreen> after;  // none: no screen at all
        std::size_t boardIndex = 0;          // into the screens looked at, when after is set
        bool chosenMissing = false;          // a named choice is not connected: the primary serves
        bool tellChosenMissing = false;      // chosenMissing, and not so at the last look: say so once
        std::optional<std::string> choiceProblem;  // the choice's text is unusable (first look or new choice)
    };

    /// Looks at the screens (mirrors collapsed) with the current choice.
    Update update(const std::vector<DesktopScreen>& screens, const std::string& choice);

    const std::optional<DesktopScreen>& board() const { return board_; }

private:
    bool looked_ = false;
    std::optional<DesktopScreen> board_;
    std::vector<DesktopScreen> screens_;
    std::string choice_;
    bool chosenMissing_ = false;
};

/// The one stderr line for an update whose board changed: "oruDriver: board
/// screen OLD -> NEW: ACTION", OLD and NEW as describeScreen gives them or
/// "none", and a note when the chosen screen is missing.
std::string boardChangeLine(const BoardScreenFollower::Update& update, const std::string& choice,
                            const std::string& action);

/// The line for the first look when the stored choice can't be used (an
/// unusable text, or a screen not connected), or "" when it can.
std::string storedChoiceLine(const BoardScreenFollower::Update& update, const std::string& choice);

} // namespace oru
