#include "tray/BoardScreenMenu.h"

#include "display/BoardScreenFollower.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace oru {

void fillBoardScreenMenu(QMenu& menu, const std::vector<DesktopScreen>& screens, const std::string& choice,
                         const std::function<void(const std::string&)>& choose)
{
    for (QActionGroup* group : menu.findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly)) delete group;
    menu.clear();
    auto* group = new QActionGroup(&menu);
    group->setExclusive(true);

    bool checked = false;
    const auto add = [&](const QString& text, const std::string& value, bool isChoice) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setChecked(isChoice);
        action->setData(QString::fromStdString(value));
        group->addAction(action);
        // Queued: a choice rebuilds this menu, which must not delete the entry
        // while it is still delivering its own signal.
        QObject::connect(
            action, &QAction::triggered, &menu, [choose, value] { choose(value); }, Qt::QueuedConnection);
        checked = checked || isChoice;
        return action;
    };
    add(QStringLiteral("Birincil ekran"), "", choice.empty())->setObjectName(QStringLiteral("BirincilEkran1"));
    menu.addSeparator();
    for (const DesktopScreen& screen : screens) {
        const ScreenRecord& g = screen.geometry;
        const QString text = QStringLiteral("%1 (%2x%3%4)")
                                 .arg(QString::fromStdString(g.name))
                                 .arg(g.widthPx)
                                 .arg(g.heightPx)
                                 .arg(g.primary ? QStringLiteral(", birincil") : QString());
        // A mirrored picture is stored by its first name, the primary output's.
        add(text, screen.names.empty() ? g.name : screen.names.front(), !choice.empty() && screen.answersTo(choice));
    }
    if (!checked && !choice.empty() && !boardChoiceProblem(choice)) {
        QAction* missing =
            add(QStringLiteral("%1 (bağlı değil)").arg(QString::fromStdString(choice)), choice, true);
        missing->setEnabled(false);
    }
}

} // namespace oru
