#include "qtui/TrayIcon.h"

#include "qtui/DesktopNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>

#include <cstdio>

namespace oru {

TTrayIcon::TTrayIcon(QObject* owner) : QObject(owner) {}

TTrayIcon::~TTrayIcon()
{
    tray_.hide();
}

void TTrayIcon::setIconVisible(bool visible)
{
    iconVisible_ = visible;
    updateVisibility();
}

void TTrayIcon::setIcon(const QIcon& icon)
{
    icon_ = icon;
    ++iconUpdates_;
    tray_.setIcon(icon_);
    updateVisibility();
}

void TTrayIcon::setPopupMenu(QMenu* menu)
{
    popupMenu_ = menu;
    updateContextMenu();
}

void TTrayIcon::setEnabled(bool enabled)
{
    enabled_ = enabled;
    updateContextMenu();
}

void TTrayIcon::updateVisibility()
{
    // Qt refuses to show a tray icon without an image; the icon appears with
    // its first image instead.
    const bool show = iconVisible_ && !icon_.isNull();
    if (show == tray_.isVisible())
        return;
    if (show && !QSystemTrayIcon::isSystemTrayAvailable())
        reportMissingTrayOnce();
    // Without a tray host Qt keeps the icon pending and docks it when one
    // appears, so showing it now is right in both cases.
    tray_.setVisible(show);
}

void TTrayIcon::updateContextMenu()
{
    // Qt opens the context menu itself: on an XEmbed tray on the right button's
    // press, at the cursor, and the menu ignores the release that follows; a
    // StatusNotifier tray host opens it the way the desktop does. So the menu
    // is handed over rather than opened from the activated() signal, which
    // would open it a second time.
    tray_.setContextMenu(enabled_ ? popupMenu_.data() : nullptr);
}

void TTrayIcon::reportMissingTrayOnce()
{
    if (reportedMissingTray_)
        return;
    reportedMissingTray_ = true;
    std::fprintf(stderr,
                 "%s: no system tray (notification area) is running; the tray icon will appear "
                 "as soon as one starts. Start a desktop panel with a system tray (GNOME: the "
                 "AppIndicator extension, gnome-shell-extension-appindicator), or a stand-alone tray "
                 "such as trayer.\n",
                 qPrintable(QCoreApplication::applicationName()));
}

} // namespace oru

namespace oru {

namespace {

// Qt makes the icon a StatusNotifierItem where a watcher runs on the session
// bus (a StatusNotifier host: GNOME's AppIndicator extension, KDE, Xfce's
// panel), else an XEmbed icon.
bool statusNotifierTray()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

} // namespace

void TTrayIcon::ShowBalloonHint(const QString& title, const QString& text)
{
    ++balloons_;
    constexpr int kShownMs = 20000;
    if (!statusNotifierTray()) {
        tray_.showMessage(title, text, QSystemTrayIcon::Warning, kShownMs);
        return;
    }
    // Qt shows a StatusNotifierItem's message by switching the item to
    // NeedsAttention for the message's time with a warning sign as its
    // attention icon, which a host shows instead of the coloured square. The
    // desktop's notifications show it instead, and the square stays.
    if (desktopNotificationsPresent()) {
        showDesktopNotification(title, text, QStringLiteral("dialog-warning"), kShownMs,
                                {{QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}});  // normal
        return;
    }
    // No notifications: Qt's message with the square itself as the attention
    // icon, so the square stays in sight.
    tray_.showMessage(title, text, icon_, kShownMs);
}

} // namespace oru
