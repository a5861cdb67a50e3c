#include "qtui/BoardScreenMenu.h"

#include "tray/BoardScreenEntries.h"

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

    for (const BoardScreenEntry& entry : boardScreenEntries(screens, choice)) {
        if (entry.separator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdString(entry.text));
        action->setCheckable(true);
        action->setChecked(entry.checked);
        action->setEnabled(entry.enabled);
        action->setData(QString::fromStdString(entry.choice));
        group->addAction(action);
        if (menu.actions().size() == 1) action->setObjectName(QStringLiteral("BirincilEkran1"));
        // Queued: a choice rebuilds this menu, which must not delete the entry
        // while it is still delivering its own signal.
        const std::string value = entry.choice;
        QObject::connect(
            action, &QAction::triggered, &menu, [choose, value] { choose(value); }, Qt::QueuedConnection);
    }
}

} // namespace oru
