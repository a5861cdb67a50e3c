#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>

namespace oru {

/// An icon in the desktop's notification area (system tray) with a popup menu.
///
/// A press of the right mouse button on the icon opens PopupMenu at the
/// cursor; the release does not open it again. Left clicks and double clicks
/// do nothing (a second right press within the double-click interval is a
/// double click too) and no tooltip is shown. While no tray is running the icon
/// waits for one: Qt docks it as soon as a tray host takes the X11 system-tray
/// selection, and again after the tray host restarts.
class TTrayIcon : public QObject {
    Q_OBJECT

public:
    /// The owner (the main window) deletes the icon with itself.
    explicit TTrayIcon(QObject* owner = nullptr);
    /// Removes the icon from the notification area.
    ~TTrayIcon() override;

    /// True shows the icon in the notification area, false removes it.
    bool IconVisible() const { return iconVisible_; }
    void setIconVisible(bool visible);

    /// The image shown; setting it updates the notification area at once.
    const QIcon& Icon() const { return icon_; }
    void setIcon(const QIcon& icon);
    /// How many times an image was handed to the notification area.
    int IconUpdateCount() const { return iconUpdates_; }

    /// The menu a right press opens; not owned (the main window owns it).
    QMenu* PopupMenu() const { return popupMenu_; }
    void setPopupMenu(QMenu* menu);

    /// While false, mouse input on the icon does nothing.
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    /// A short notice next to the icon (a desktop notification where the
    /// desktop has them, else Qt's own balloon).
    void ShowBalloonHint(const QString& title, const QString& text);
    /// How many notices were shown.
    int BalloonCount() const { return balloons_; }

    /// Where the tray host shows the icon, in screen coordinates; empty while
    /// it is not docked.
    QRect geometry() const { return tray_.geometry(); }

private:
    void updateVisibility();
    void updateContextMenu();
    void reportMissingTrayOnce();

    QSystemTrayIcon tray_;
    QIcon icon_;
    QPointer<QMenu> popupMenu_;
    bool iconVisible_ = false;
    int iconUpdates_ = 0;
    bool enabled_ = true;
    bool reportedMissingTray_ = false;
    int balloons_ = 0;
};

} // namespace oru
