#include "app/DriverBusService.h"

#include "app/MainForm.h"
#include "common/HandlerErrors.h"
#include "tray/DesktopNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace oru {

namespace {

constexpr const char* kDriverBusInterface = "org.oruDriver.Driver";
// A driver that holds the lock registers its name within its start; under
// load a start of Qt takes seconds.
constexpr int kStartingDriverWaitMs = 20000;
// The driver answers from its event loop.
constexpr int kCallTimeoutMs = 10000;
// "Çıkış" saves before the process ends; a message box about a failed save
// waits for the user.
constexpr int kEndWaitMs = 60000;

bool driverNameOwned(const QDBusConnection& bus)
{
    const QDBusReply<bool> owned = bus.interface()->isServiceRegistered(QString::fromLatin1(kDriverBusService));
    return owned.isValid() && owned.value();
}

// Waits, at most timeoutMs, until the driver's name is owned (owned true) or
// has no owner any more; true when it is so.
bool waitForDriverName(const QDBusConnection& bus, bool owned, int timeoutMs)
{
    QDBusServiceWatcher watcher(QString::fromLatin1(kDriverBusService), bus,
                                owned ? QDBusServiceWatcher::WatchForRegistration
                                      : QDBusServiceWatcher::WatchForUnregistration);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceOwnerChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    // Asked after the watch is in place, so that no change falls between.
    if (driverNameOwned(bus) == owned) return true;
    loop.exec();
    return driverNameOwned(bus) == owned;
}

bool noOwnerError(const QDBusMessage& reply)
{
    return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

} // namespace

DriverBusService::DriverBusService(TMainForm& form) : QObject(&form), form_(form) {}

void DriverBusService::publish()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr,
                     "oruDriver: no D-Bus session bus (%s); \"oru-driver --calibrate\", \"oru-driver --quit\" and "
                     "the desktop entry's actions can't reach this driver. Start it in the desktop session, where "
                     "DBUS_SESSION_BUS_ADDRESS is set\n",
                     qPrintable(bus.lastError().message()));
        return;
    }
    if (!bus.registerObject(QString::fromLatin1(kDriverBusPath), this, QDBusConnection::ExportScriptableSlots) ||
        !bus.registerService(QString::fromLatin1(kDriverBusService))) {
        std::fprintf(stderr,
                     "oruDriver: the name %s on the session bus belongs to another process (%s); "
                     "\"oru-driver --calibrate\" and \"--quit\" reach that one, not this driver. End the other "
                     "process, then start the driver again\n",
                     kDriverBusService, qPrintable(bus.lastError().message()));
    }
}

void DriverBusService::withdraw()
{
    withdrawn_ = true;
    QDBusConnection::sessionBus().unregisterObject(QString::fromLatin1(kDriverBusPath));
}

void DriverBusService::later(std::function<void()> handler)
{
    QMetaObject::invokeMethod(
        this,
        [this, handler = std::move(handler)] {
            if (!withdrawn_) guarded(handler);
        },
        Qt::QueuedConnection);
}

void DriverBusService::Calibrate()
{
    later([this] { form_.Kalibre1Click(); });
}

void DriverBusService::Quit()
{
    later([this] { form_.k1Click(); });
}

int sendDriverCommand(DriverCommand command, bool driverHoldsLock)
{
    const char* option = command == DriverCommand::Calibrate ? "--calibrate" : "--quit";
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr,
                     "oru-driver %s: no D-Bus session bus to reach the driver through (%s). Run the command in the "
                     "driver's desktop session, where DBUS_SESSION_BUS_ADDRESS is set\n",
                     option, qPrintable(bus.lastError().message()));
        return kExitNoSessionBus;
    }
    if (!driverNameOwned(bus)) {
        if (!driverHoldsLock) {
            std::fprintf(stderr, "oru-driver %s: no driver runs in this desktop session; nothing to end\n", option);
            return kExitNoDriverRunning;
        }
        if (!waitForDriverName(bus, true, kStartingDriverWaitMs)) {
            std::fprintf(stderr,
                         "oru-driver %s: a driver of this user runs (it holds the single-instance lock) but does "
                         "not answer on this session bus: it was started in another session or without a bus. "
                         "Use its tray menu, or end it (\"oru-driver --quit\" in its session) and start it here\n",
                         option);
            return kExitNoAnswer;
        }
    }
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(QString::fromLatin1(kDriverBusService), QString::fromLatin1(kDriverBusPath),
                                       QString::fromLatin1(kDriverBusInterface),
                                       command == DriverCommand::Calibrate ? QStringLiteral("Calibrate")
                                                                           : QStringLiteral("Quit")),
        QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (command == DriverCommand::Quit && noOwnerError(reply)) {
            std::fprintf(stderr, "oru-driver %s: no driver runs in this desktop session; nothing to end\n", option);
            return kExitNoDriverRunning;
        }
        std::fprintf(stderr, "oru-driver %s: the driver did not take the command (%s: %s)\n", option,
                     qPrintable(reply.errorName()), qPrintable(reply.errorMessage()));
        return kExitNoAnswer;
    }
    if (command == DriverCommand::Quit && !waitForDriverName(bus, false, kEndWaitMs)) {
        std::fprintf(stderr,
                     "oru-driver --quit: the driver was asked to end but still runs after %d s; a message box "
                     "about its settings may wait for an answer on the screen\n",
                     kEndWaitMs / 1000);
        return kExitNoAnswer;
    }
    return 0;
}

void tellCommandsWithoutTray()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;  // said at the start
    const QDBusPendingCall sent = showDesktopNotification(
        QStringLiteral("oruDriver: bildirim alanı yok"),
        QStringLiteral("Bu masaüstünde bildirim alanı (sistem tepsisi) olmadığından oru simgesi görünmüyor; "
                       "sürücü yine de çalışıyor. Yeniden kalibre etmek ya da sürücüyü kapatmak için "
                       "uygulamalar arasında oruDriver simgesine sağ tıklayıp \"Kalibre\" ya da \"Çıkış\" "
                       "seçin, ya da uçbirimde \"oru-driver --calibrate\" ya da \"oru-driver --quit\" yazın."),
        QStringLiteral("oru-driver"), -1, {{QStringLiteral("desktop-entry"), QStringLiteral("oru-driver")}});
    auto* watcher = new QDBusPendingCallWatcher(sent, QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher* call) {
        if (call->isError()) {
            std::fprintf(stderr,
                         "oruDriver: no desktop notification could tell the user that \"oru-driver --calibrate\", "
                         "\"oru-driver --quit\" and the desktop entry's actions stand in for the tray (%s)\n",
                         qPrintable(call->error().message()));
        }
        call->deleteLater();
    });
}

} // namespace oru
