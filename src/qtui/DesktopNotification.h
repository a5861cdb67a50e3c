#pragma once

#include <QDBusPendingCall>
#include <QString>
#include <QVariantMap>

namespace oru {

/// Whether the desktop's notification service (org.freedesktop.Notifications)
/// runs on the session bus or would be started by it.
bool desktopNotificationsPresent();

/// Shows a notification through the desktop's notification service, without
/// waiting for it: app_icon names a themed icon, shownMs -1 leaves the time
/// to the desktop. The body is plain text (servers may read markup: no "<"
/// or "&").
QDBusPendingCall showDesktopNotification(const QString& summary, const QString& body, const QString& icon,
                                         int shownMs, const QVariantMap& hints = {});

} // namespace oru
