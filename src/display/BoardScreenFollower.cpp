#include "display/BoardScreenFollower.h"

#include <algorithm>

namespace oru {

namespace {

std::string describeOrNone(const std::optional<DesktopScreen>& screen)
{
    return screen ? describeScreen(*screen) : std::string("none");
}

} // namespace

std::optional<std::string> boardChoiceProblem(const std::string& choice)
{
    if (choice.size() > kBoardScreenNameMaxBytes) {
        return "it is longer than " + std::to_string(kBoardScreenNameMaxBytes) + " bytes";
    }
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    if (std::any_of(choice.begin(), choice.end(), control)) return std::string("it holds control characters");
    if (!choice.empty() && choice.find_first_not_of(' ') == std::string::npos) return std::string("it is blank");
    return std::nullopt;
}

BoardScreenFollower::Update BoardScreenFollower::update(const std::vector<DesktopScreen>& screens,
                                                        const std::string& choice)
{
    Update update;
    update.first = !looked_;
    update.before = board_;
    const std::optional<std::string> problem = boardChoiceProblem(choice);
    const bool newChoice = !looked_ || choice != choice_;
    if (newChoice) update.choiceProblem = problem;

    const bool named = !choice.empty() && !problem;
    auto board = screens.end();
    if (named) {
        board = std::find_if(screens.begin(), screens.end(),
                             [&](const DesktopScreen& screen) { return screen.answersTo(choice); });
    }
    update.chosenMissing = named && board == screens.end();
    if (board == screens.end()) {
        // Wayland names no primary: the first screen listed stands in.
        board = std::find_if(screens.begin(), screens.end(), [](const DesktopScreen& s) { return s.geometry.primary; });
        if (board == screens.end()) board = screens.begin();
    }
    if (board != screens.end()) {
        update.after = *board;
        update.boardIndex = static_cast<std::size_t>(board - screens.begin());
    }
    update.tellChosenMissing = update.chosenMissing && (newChoice || !chosenMissing_);
    update.boardChanged = !looked_ || update.before != update.after;
    update.layoutChanged = !looked_ || screens != screens_;

    looked_ = true;
    board_ = update.after;
    screens_ = screens;
    choice_ = choice;
    chosenMissing_ = update.chosenMissing;
    return update;
}

std::string boardChangeLine(const BoardScreenFollower::Update& update, const std::string& choice,
                            const std::string& action)
{
    std::string line = "oruDriver: board screen " + describeOrNone(update.before) + " -> " +
                       describeOrNone(update.after) + ": " + action;
    if (update.chosenMissing) {
        line += "; the chosen screen '" + choice + "' is not connected, the primary screen serves until it is";
    }
    return line;
}

std::string storedChoiceLine(const BoardScreenFollower::Update& update, const std::string& choice)
{
    const std::string serving = "the primary screen " + describeOrNone(update.after) + " serves";
    if (update.choiceProblem) {
        return "oruDriver: the stored board screen (value BoardScreen_Text) can't be used (" + *update.choiceProblem +
               "); " + serving + ". Choose the board's screen in the tray menu \"Tahta ekranı\"; the stored value "
               "is kept until then";
    }
    if (update.chosenMissing) {
        return "oruDriver: the stored board screen '" + choice + "' is not connected; " + serving +
               " until it is. Connect it, or choose another screen in the tray menu \"Tahta ekranı\"";
    }
    return "";
}

} // namespace oru
