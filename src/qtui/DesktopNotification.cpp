#include "qtui/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStringList>

namespace oru {

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");

} // namespace

bool desktopNotificationsPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    if (bus.interface()->isServiceRegistered(kNotifications)) return true;
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(kNotifications);
}

QDBusPendingCall showDesktopNotification(const QString& summary, const QString& body, const QString& icon,
                                         int shownMs, const QVariantMap& hints)
{
    QDBusMessage notify = QDBusMessage::createMethodCall(kNotifications, QStringLiteral("/org/freedesktop/Notifications"),
                                                         kNotifications, QStringLiteral("Notify"));
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    notify << QStringLiteral("oruDriver") << 0u << icon << summary << body << QStringList() << hints << shownMs;
    return QDBusConnection::sessionBus().asyncCall(notify);
}

} // namespace oru
