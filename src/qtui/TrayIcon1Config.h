#pragma once

#include "common/TColor.h"
#include "qtui/TrayFont.h"

class QAction;
class QMenu;
class QWidget;

namespace oru {

class TTextTrayIcon;

/// The main window's popup menu PopupMenu1 and its items, each QObject named
/// after its component. The menu belongs to the owner window; the window
/// connects the items' triggered() signals to its click handlers.
struct PopupMenu1Items {
    QMenu* PopupMenu1 = nullptr;
    QAction* Kalibre1 = nullptr; ///< "Kalibre"
    QMenu* TahtaEkrani1 = nullptr; ///< "Tahta ekranı": the board's screen (filled by the main window)
    QAction* Hakknda1 = nullptr; ///< "Hakkında"
    QAction* N1 = nullptr;       ///< separator line
    QAction* k1 = nullptr;       ///< "Çıkış"
};

/// Builds PopupMenu1 as a child of owner from the core's kTrayMenu: "Kalibre",
/// the submenu "Tahta ekranı", "Hakkında", a separator, "Çıkış".
PopupMenu1Items createPopupMenu1(QWidget* owner);

/// The tray font of TrayIcon1: a small sans-serif face with a character
/// height of 9 pixels, white, painted without antialiasing.
TTrayFont trayIcon1Font();

/// Gives TrayIcon1 its configuration: text "oru" in trayIcon1Font() on a red
/// square, no frame, popupMenu on the right button, and shows it.
void configureTrayIcon1(TTextTrayIcon& trayIcon, QMenu* popupMenu);

} // namespace oru
