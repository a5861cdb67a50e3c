#pragma once

#include "app/DriverCommands.h"

#include <QDBusContext>
#include <QObject>

#include <functional>
#include <optional>
#include <string>

namespace oru {

class TMainForm;

/// The driver's commands on the session bus, for desktops without a tray host
/// (GNOME without the AppIndicator extension): the desktop entry's actions and
/// `oru-driver --calibrate` / `oru-driver --quit` call them.
inline constexpr const char* kDriverBusService = "org.oruDriver.Driver";
inline constexpr const char* kDriverBusPath = "/org/oruDriver/Driver";
/// The error a driver whose end has begun answers every command with.
inline constexpr const char* kDriverEndingError = "org.oruDriver.Driver.Error.Ending";

/// Offers the tray menu's "Kalibre" and "Çıkış" as the methods Calibrate and
/// Quit of the interface org.oruDriver.Driver. A call is answered at once and
/// its handler runs afterwards from the event loop: a calibration runs a loop
/// of its own for as long as the pen takes, longer than a caller waits.
class DriverBusService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.oruDriver.Driver")

public:
    explicit DriverBusService(TMainForm& form);

    /// Puts the object and the name on the session bus; says on stderr why
    /// the commands can't reach this driver when that fails. False when this
    /// driver has no session bus at all.
    bool publish();
    /// The driver's end has begun: calls are answered with kDriverEndingError
    /// from now on, and those already taken do nothing. The name stays until
    /// the process ends.
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

/// The word a driver without a session bus leaves in its single-instance
/// lock file, so that a command tells so at once.
inline constexpr const char* kNoSessionBusNote = "no-session-bus";

/// "process 1234 (oru-driver)": who a message is about.
std::string describeProcess(std::int64_t pid);

/// Why this process has no session bus to use, nothing when it has one.
/// libdbus starts a bus of its own when no address is set ("autolaunch"): a
/// bus nobody else is on, left running after the command. A systemd user
/// session has its bus at $XDG_RUNTIME_DIR/bus, which libdbus would find
/// itself: it is set as the address here, so that nothing else is tried.
std::optional<std::string> sessionBusMissing();

/// Hands a command to the driver that holds this user's single-instance lock
/// ("oruDriver") over the session bus (runDriverCommand), and returns the exit
/// status or kStartCalibratingDriver. Never starts a bus of its own. Needs a
/// QCoreApplication, no display.
int sendDriverCommand(DriverCommand command);

/// How long after the start the driver looks for a tray host before it tells
/// the user where the commands are: at a login the panel starts beside the
/// driver, and a slow machine takes seconds to dock anything.
inline constexpr int kTrayHostGraceMs = 10000;

/// Tells the user once, as a desktop notification (org.freedesktop.Notifications,
/// when the session has it), that there is no tray and where "Kalibre" and
/// "Çıkış" are instead; one line on stderr when no notification could be sent.
void tellCommandsWithoutTray();

} // namespace oru
