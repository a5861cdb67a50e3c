// A tray message where the icon is a StatusNotifierItem (GNOME's AppIndicator
// extension, KDE, Xfce's panel): it goes to the desktop's notifications and
// the item never asks for attention, which a host shows as Qt's warning sign
// in place of the coloured square. Runs on a private session bus
// (dbus-run-session) with a watcher and a notification service of the test's
// own.

#include "qtui/TrayIcon.h"

#include "TrayTestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMutex>
#include <QObject>
#include <QScopeGuard>
#include <QThread>
#include <QPixmap>

#include <gtest/gtest.h>

#include <atomic>

namespace oru {
namespace {

// A StatusNotifier watcher that takes every item and keeps nothing.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return true; }
    int items() const { return items_; }
public slots:
    void RegisterStatusNotifierItem(const QString&) { ++items_; }

private:
    std::atomic<int> items_{0};
};

// The desktop's notification service: records what it is asked to show.
class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList shown() const
    {
        QMutexLocker lock(&mutex_);
        return shown_;
    }
public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        QMutexLocker lock(&mutex_);
        shown_ << summary + QStringLiteral(": ") + body;
        return static_cast<uint>(shown_.size());
    }

private:
    mutable QMutex mutex_;
    QStringList shown_;
};

// Statuses the tray's items announce (NewStatus).
class StatusListener : public QObject {
    Q_OBJECT

public:
    QStringList statuses;
public slots:
    void newStatus(const QString& status) { statuses << status; }
};

TEST(TrayMessage, GoesToTheNotificationsAndTheItemKeepsItsSquare)
{
    test::trayTestApp();
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "run under dbus-run-session";
    // The desktop's side: a connection of its own, served by a thread of its
    // own, since Qt asks the watcher with blocking calls from this thread.
    QDBusConnection desktop = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("desktop"));
    QThread desktopThread;
    desktopThread.start();
    Watcher watcher;
    Notifications notifications;
    watcher.moveToThread(&desktopThread);
    notifications.moveToThread(&desktopThread);
    StatusListener listener;
    // Before the first tray icon: Qt picks StatusNotifierItem once, where a watcher runs.
    ASSERT_TRUE(desktop.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(desktop.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    ASSERT_TRUE(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));
    ASSERT_TRUE(bus.connect(QString(), QString(), QStringLiteral("org.kde.StatusNotifierItem"),
                            QStringLiteral("NewStatus"), &listener, SLOT(newStatus(QString))));
    const auto stopDesktop = qScopeGuard([&] {
        desktopThread.quit();
        desktopThread.wait();
    });

    TTrayIcon tray;
    QPixmap square(16, 16);
    square.fill(Qt::red);
    tray.setIcon(QIcon(square));
    tray.setIconVisible(true);
    // The item is up once it has registered with the watcher.
    ASSERT_TRUE(test::waitUntil([&] { return watcher.items() > 0; }, 10000));

    tray.ShowBalloonHint(QStringLiteral("oruDriver"), QStringLiteral("Kalem izleyici bulunamadı"));
    ASSERT_TRUE(test::waitUntil([&] { return !notifications.shown().isEmpty(); }, 10000));
    EXPECT_EQ(notifications.shown(), QStringList{QStringLiteral("oruDriver: Kalem izleyici bulunamadı")});
    // A status the item announced would have come before (Qt sends it first).
    EXPECT_FALSE(listener.statuses.contains(QStringLiteral("NeedsAttention"))) << listener.statuses.join(',').toStdString();
    EXPECT_EQ(tray.BalloonCount(), 1);
}

} // namespace
} // namespace oru

#include "TrayMessageTest.moc"
