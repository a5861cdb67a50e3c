// The second start's commands over the session bus (Linux): how
// runDriverCommand reaches the driver that holds this user's lock.

#include "qtui/DriverBusService.h"
#include "platform/linux/SingleInstanceLock.h"
#include "platform/linux/UniqueFd.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace oru {

namespace {

constexpr const char* kDriverBusInterface = "org.oruDriver.Driver";
// The driver answers from its event loop.
constexpr int kCallTimeoutMs = 10000;

// A descriptor that becomes readable when the process ends (pidfd); -1 with
// errno when the kernel has none for it (ESRCH: it has ended).
int processEndFd(std::int64_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
}

// The session bus as a second start reaches the driver through it.
class BusDriverChannel : public DriverChannel {
public:
    explicit BusDriverChannel(const char* option) : option_(option) {}

    std::optional<std::string> unavailable() override
    {
        auto missing = sessionBusMissing();
        if (!missing) {
            bus_ = QDBusConnection::sessionBus();
            if (bus_.isConnected()) return std::nullopt;
            missing = bus_.lastError().message().toStdString();
        }
        return "no D-Bus session bus to reach the driver through (" + *missing +
               "). Run the command in the driver's desktop session, where DBUS_SESSION_BUS_ADDRESS is set";
    }

    std::optional<DriverProcess> lockHolder() override
    {
        const auto holder = SingleInstanceLock::holder("oruDriver");
        if (!holder) return std::nullopt;
        DriverProcess process{holder->pid, describeProcess(holder->pid), {}};
        if (holder->note == kNoSessionBusNote) {
            process.unreachable = "it was started without a session bus. Use its tray menu, or end it (kill " +
                                  std::to_string(holder->pid) + ") and start it again in the desktop session";
        }
        return process;
    }

    std::optional<DriverProcess> answerer() override
    {
        const QString name = QString::fromLatin1(kDriverBusService);
        const QDBusReply<QString> owner = bus_.interface()->serviceOwner(name);
        const QDBusReply<uint> pid = bus_.interface()->servicePid(name);
        if (!owner.isValid() || !pid.isValid()) return std::nullopt;
        owner_ = owner.value();
        return DriverProcess{pid.value(), describeProcess(pid.value()), {}};
    }

    std::string silentDriverAdvice(const DriverProcess& holder) override
    {
        return "it was started in another desktop session, or its session bus is another one. Use its tray menu, "
               "or end it (kill " + std::to_string(holder.pid) + ") and start it again here";
    }

    CommandAnswer send(DriverCommand command, std::string& problem) override
    {
        // To the owner just checked, not to whoever owns the name by now.
        const QDBusMessage reply = bus_.call(
            QDBusMessage::createMethodCall(owner_, QString::fromLatin1(kDriverBusPath),
                                           QString::fromLatin1(kDriverBusInterface),
                                           command == DriverCommand::Calibrate ? QStringLiteral("Calibrate")
                                                                               : QStringLiteral("Quit")),
            QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ErrorMessage) return CommandAnswer::Taken;
        const QString error = reply.errorName();
        // The driver's object goes in the last moments of its end.
        if (error == QLatin1String(kDriverEndingError) ||
            error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject")) {
            return CommandAnswer::Ending;
        }
        if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
            return CommandAnswer::NoOwner;
        }
        problem = (error + QStringLiteral(": ") + reply.errorMessage()).toStdString();
        return CommandAnswer::Failed;
    }

    void waitForChange(const DriverProcess& holder, int ms) override
    {
        QEventLoop loop;
        QDBusServiceWatcher watcher(QString::fromLatin1(kDriverBusService), bus_,
                                    QDBusServiceWatcher::WatchForOwnerChange);
        QObject::connect(&watcher, &QDBusServiceWatcher::serviceOwnerChanged, &loop, &QEventLoop::quit);
        const UniqueFd ended(processEndFd(holder.pid));
        std::optional<QSocketNotifier> endNotifier;
        if (ended) {
            endNotifier.emplace(ended.get(), QSocketNotifier::Read);
            QObject::connect(&*endNotifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        } else {
            // The kernel can't watch it (gone already, or no pidfd): look again soon.
            ms = std::min(ms, 100);
        }
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        // Asked after the watches are in place, so that no change falls between.
        if (answerer()) return;
        loop.exec();
    }

    bool waitForEnd(const DriverProcess& process, int ms) override
    {
        // Watched on the process, not on the bus: a bus that dies meanwhile
        // says nothing about the driver.
        const UniqueFd ended(processEndFd(process.pid));
        if (!ended) {
            if (errno == ESRCH) return true;
            const std::int64_t deadline = nowMs() + ms;
            while (::kill(static_cast<pid_t>(process.pid), 0) == 0 || errno == EPERM) {
                if (nowMs() >= deadline) return false;
                ::usleep(50000);
            }
            return true;
        }
        pollfd watch{ended.get(), POLLIN, 0};
        const std::int64_t deadline = nowMs() + ms;
        for (;;) {
            const int ready = ::poll(&watch, 1, static_cast<int>(std::max<std::int64_t>(0, deadline - nowMs())));
            if (ready > 0) return true;
            if (ready == 0 || errno != EINTR) return false;
        }
    }

    std::int64_t nowMs() override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void say(const std::string& line) override { std::fprintf(stderr, "oru-driver %s: %s\n", option_, line.c_str()); }

private:
    const char* option_;
    QDBusConnection bus_{QString()};
    QString owner_;  // the unique name of the answerer last seen
};

} // namespace

int sendDriverCommand(DriverCommand command)
{
    BusDriverChannel channel(command == DriverCommand::Calibrate ? "--calibrate" : "--quit");
    return runDriverCommand(command, channel);
}

} // namespace oru
