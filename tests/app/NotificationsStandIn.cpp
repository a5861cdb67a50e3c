// A desktop's notification service for the program tests: owns
// org.freedesktop.Notifications on the session bus and appends each Notify
// call to the file given, one line "APP<TAB>ICON<TAB>SUMMARY<TAB>BODY",
// flushed before the call is answered. With --squat it owns the driver's
// name instead and takes its commands without doing anything (Quit ends it),
// as a process that is not the driver might. With --quit-and-calibrate it
// sends the driver Quit and Calibrate at once, so that both wait in the
// driver's queue together, and ends.
//
//   oru-notifications-standin FILE | --squat | --quit-and-calibrate

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

namespace {

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit Notifications(const QString& path) : record_(path) {}
    bool open() { return record_.open(QIODevice::Append | QIODevice::Text); }

public Q_SLOTS:
    Q_SCRIPTABLE uint Notify(const QString& app, uint /*replaces*/, const QString& icon, const QString& summary,
                             const QString& body, const QStringList& /*actions*/, const QVariantMap& /*hints*/,
                             int /*timeout*/)
    {
        QString line = QStringList{app, icon, summary, body}.join(QLatin1Char('\t'));
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        record_.write((line + QLatin1Char('\n')).toUtf8());
        record_.flush();
        return ++lastId_;
    }
    Q_SCRIPTABLE QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    Q_SCRIPTABLE void CloseNotification(uint /*id*/) {}

private:
    QFile record_;
    uint lastId_ = 0;
};

class Squatter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.oruDriver.Driver")

public Q_SLOTS:
    Q_SCRIPTABLE void Calibrate() {}
    Q_SCRIPTABLE void Quit() { QCoreApplication::quit(); }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: oru-notifications-standin FILE | --squat | --quit-and-calibrate\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (argv[1] == QLatin1String("--quit-and-calibrate")) {
        QList<QDBusPendingCall> calls;
        for (const char* method : {"Quit", "Calibrate"}) {
            calls.append(bus.asyncCall(QDBusMessage::createMethodCall(
                QStringLiteral("org.oruDriver.Driver"), QStringLiteral("/org/oruDriver/Driver"),
                QStringLiteral("org.oruDriver.Driver"), QLatin1String(method))));
        }
        for (QDBusPendingCall& call : calls) call.waitForFinished();
        return 0;
    }
    // Serves object at path under name until ended.
    const auto serve = [&](const char* path, const char* name, QObject* object) {
        if (bus.registerObject(QLatin1String(path), object, QDBusConnection::ExportScriptableSlots) &&
            bus.registerService(QLatin1String(name))) {
            return app.exec();
        }
        std::fprintf(stderr, "oru-notifications-standin: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    };
    Squatter squatter;
    if (argv[1] == QLatin1String("--squat")) return serve("/org/oruDriver/Driver", "org.oruDriver.Driver", &squatter);
    Notifications service(QString::fromLocal8Bit(argv[1]));
    if (!service.open()) {
        std::fprintf(stderr, "oru-notifications-standin: cannot write %s\n", argv[1]);
        return 1;
    }
    return serve("/org/freedesktop/Notifications", "org.freedesktop.Notifications", &service);
}

#include "NotificationsStandIn.moc"
