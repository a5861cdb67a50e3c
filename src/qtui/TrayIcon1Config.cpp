#include "qtui/TrayIcon1Config.h"

#include "common/TrayStatus.h"
#include "tray/TrayMenu.h"
#include "qtui/TextTrayIcon.h"

#include <QAction>
#include <QMenu>

namespace oru {

namespace {

QAction* addNamedAction(QMenu* menu, const char* objectName, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(objectName));
    return action;
}

} // namespace

PopupMenu1Items createPopupMenu1(QWidget* owner)
{
    PopupMenu1Items items;
    items.PopupMenu1 = new QMenu(owner);
    items.PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    for (const TrayMenuItem& item : kTrayMenu) {
        const QString caption = QString::fromUtf8(item.caption);
        switch (item.entry) {
        case TrayMenuEntry::Kalibre: items.Kalibre1 = addNamedAction(items.PopupMenu1, item.name, caption); break;
        case TrayMenuEntry::TahtaEkrani:
            items.TahtaEkrani1 = items.PopupMenu1->addMenu(caption);
            items.TahtaEkrani1->setObjectName(QString::fromLatin1(item.name));
            items.TahtaEkrani1->menuAction()->setObjectName(QString::fromLatin1(item.name) + QStringLiteral("Item"));
            break;
        case TrayMenuEntry::Hakkinda: items.Hakknda1 = addNamedAction(items.PopupMenu1, item.name, caption); break;
        case TrayMenuEntry::Separator:
            items.N1 = items.PopupMenu1->addSeparator();
            items.N1->setObjectName(QString::fromLatin1(item.name));
            break;
        case TrayMenuEntry::Cikis: items.k1 = addNamedAction(items.PopupMenu1, item.name, caption); break;
        }
    }
    return items;
}

TTrayFont trayIcon1Font()
{
    // A 9-pixel character height in DejaVu Sans (fonts-dejavu-core), drawn
    // without antialiasing, renders "oru" 15 pixels wide and legible.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(9);
    font.setStyleStrategy(QFont::NoAntialias);
    return TTrayFont(font, clWhite);
}

void configureTrayIcon1(TTextTrayIcon& trayIcon, QMenu* popupMenu)
{
    trayIcon.setObjectName(QStringLiteral("TrayIcon1"));
    trayIcon.setPopupMenu(popupMenu);
    trayIcon.setText(QStringLiteral("oru"));
    trayIcon.setFont(trayIcon1Font());
    trayIcon.setColor(trayColors(TrayState::NoTracker).color);
    trayIcon.setBorder(false);
    trayIcon.setIconVisible(true);
}

} // namespace oru
