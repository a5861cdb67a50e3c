#include "qtui/DriverBusService.h"

#include "qtui/MainForm.h"
#include "common/HandlerErrors.h"
#include "qtui/DesktopNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>

namespace oru {

std::string describeProcess(std::int64_t pid)
{
    std::string name;
    if (std::FILE* comm = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "re")) {
        char text[64] = {};
        if (std::fgets(text, sizeof text, comm)) name = text;
        std::fclose(comm);
    }
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return "process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

std::optional<std::string> sessionBusMissing()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return std::nullopt;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        const std::string socket = std::string(runtime) + "/bus";
        struct stat st {};
        if (::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
            return std::nullopt;
        }
    }
    return std::string("DBUS_SESSION_BUS_ADDRESS is not set");
}

DriverBusService::DriverBusService(TMainForm& form) : QObject(&form), form_(form) {}

bool DriverBusService::publish()
{
    const auto missing = sessionBusMissing();
    QDBusConnection bus = missing ? QDBusConnection(QString()) : QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr,
                     "oruDriver: no D-Bus session bus (%s); \"oru-driver --calibrate\", \"oru-driver --quit\" and "
                     "the desktop entry's actions can't reach this driver. Start it in the desktop session, where "
                     "DBUS_SESSION_BUS_ADDRESS is set\n",
                     missing ? missing->c_str() : qPrintable(bus.lastError().message()));
        return false;
    }
    const QString name = QString::fromLatin1(kDriverBusService);
    if (!bus.registerObject(QString::fromLatin1(kDriverBusPath), this, QDBusConnection::ExportScriptableSlots) ||
        !bus.registerService(name)) {
        const QDBusReply<uint> owner = bus.interface()->servicePid(name);
        const std::string who = owner.isValid() ? describeProcess(owner.value()) : bus.lastError().message().toStdString();
        std::fprintf(stderr,
                     "oruDriver: the name %s on the session bus belongs to another process (%s); "
                     "\"oru-driver --calibrate\" and \"--quit\" refuse to talk to it, so they can't reach this "
                     "driver. End the other process, then start the driver again\n",
                     kDriverBusService, who.c_str());
    }
    return true;
}

void DriverBusService::withdraw()
{
    withdrawn_ = true;
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
    if (withdrawn_) return sendErrorReply(QString::fromLatin1(kDriverEndingError), QStringLiteral("the driver is ending"));
    later([this] { form_.Kalibre1Click(); });
}

void DriverBusService::Quit()
{
    if (withdrawn_) return sendErrorReply(QString::fromLatin1(kDriverEndingError), QStringLiteral("the driver is ending"));
    later([this] { form_.k1Click(); });
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
