// A desktop's notification service for the program tests: owns
// org.freedesktop.Notifications on the session bus and appends each Notify
// call to the file given, one line "APP<TAB>ICON<TAB>SUMMARY<TAB>BODY",
// flushed before the call is answered.
//
//   oru-notifications-standin FILE

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: oru-notifications-standin FILE\n");
        return 2;
    }
    Notifications service(QString::fromLocal8Bit(argv[1]));
    if (!service.open()) {
        std::fprintf(stderr, "oru-notifications-standin: cannot write %s\n", argv[1]);
        return 1;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                            QDBusConnection::ExportScriptableSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "oru-notifications-standin: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    return app.exec();
}

#include "NotificationsStandIn.moc"
