#pragma once

#include <QObject>

#include <functional>

namespace oru {

class TMainForm;

/// The driver's commands on the session bus, for desktops without a tray host
/// (GNOME without the AppIndicator extension): the desktop entry's actions and
/// `oru-driver --calibrate` / `oru-driver --quit` call them.
inline constexpr const char* kDriverBusService = "org.oruDriver.Driver";
inline constexpr const char* kDriverBusPath = "/org/oruDriver/Driver";

/// Offers the tray menu's "Kalibre" and "Çıkış" as the methods Calibrate and
/// Quit of the interface org.oruDriver.Driver. A call is answered at once and
/// its handler runs afterwards from the event loop: a calibration runs a loop
/// of its own for as long as the pen takes, longer than a caller waits.
class DriverBusService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.oruDriver.Driver")

public:
    explicit DriverBusService(TMainForm& form);

    /// Puts the object and the name on the session bus; says on stderr why
    /// the commands can't reach this driver when that fails.
    void publish();
    /// The driver's end has begun: calls are refused from now on, and those
    /// already taken do nothing. The name stays until the process ends, so
    /// that "--quit" sees the end, saves and all.
    void withdraw();

public Q_SLOTS:
    Q_SCRIPTABLE void Calibrate();
    Q_SCRIPTABLE void Quit();

private:
    /// Runs a handler of the main window from the event loop, unless withdrawn by then.
    void later(std::function<void()> handler);

    TMainForm& form_;
    bool withdrawn_ = false;
};

enum class DriverCommand { Calibrate, Quit };

/// Exit statuses of `--calibrate` and `--quit` besides 0 (done), 1 (the
/// driver's start refused) and 2 (usage).
inline constexpr int kExitNoDriverRunning = 3;  // --quit: nothing to end
inline constexpr int kExitNoSessionBus = 4;     // no session bus to reach a driver through
inline constexpr int kExitNoAnswer = 5;         // the driver did not take the command, or did not end

/// Hands a command to the driver of this desktop session over the session bus
/// and returns the exit status; says on stderr why it failed. driverHoldsLock:
/// a driver of this user runs (it holds the single-instance lock), so its name
/// is waited for while it may still be starting. Quit returns once the driver
/// has ended. Needs a QCoreApplication, no display.
int sendDriverCommand(DriverCommand command, bool driverHoldsLock);

/// How long after the start the driver looks for a tray host before it tells
/// the user where the commands are: at a login the panel starts beside the
/// driver, and a slow machine takes seconds to dock anything.
inline constexpr int kTrayHostGraceMs = 10000;

/// Tells the user once, as a desktop notification (org.freedesktop.Notifications,
/// when the session has it), that there is no tray and where "Kalibre" and
/// "Çıkış" are instead; one line on stderr when no notification could be sent.
void tellCommandsWithoutTray();

} // namespace oru
