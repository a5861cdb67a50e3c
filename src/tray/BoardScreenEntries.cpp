#include "tray/BoardScreenEntries.h"

#include "display/BoardScreenFollower.h"

namespace oru {

std::vector<BoardScreenEntry> boardScreenEntries(const std::vector<DesktopScreen>& screens,
                                                 const std::string& choice)
{
    std::vector<BoardScreenEntry> entries;
    entries.push_back({false, "Birincil ekran", "", choice.empty(), true});
    entries.push_back({true, "", "", false, false});
    bool checked = choice.empty();
    for (const DesktopScreen& screen : screens) {
        const ScreenRecord& g = screen.geometry;
        const bool isChoice = !choice.empty() && screen.answersTo(choice);
        // A mirrored picture is stored by its first name, the primary output's.
        entries.push_back({false,
                           g.name + " (" + std::to_string(g.widthPx) + "x" + std::to_string(g.heightPx) +
                               (g.primary ? ", birincil" : "") + ")",
                           screen.names.empty() ? g.name : screen.names.front(), isChoice, true});
        checked = checked || isChoice;
    }
    if (!checked && !boardChoiceProblem(choice)) {
        entries.push_back({false, choice + " (bağlı değil)", choice, true, false});
    }
    return entries;
}

} // namespace oru
