#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace oru {

/// What a second start asks of the running driver: "Kalibre" (--calibrate) or "Çıkış" (--quit).
enum class DriverCommand { Calibrate, Quit };

/// Exit statuses of --calibrate and --quit besides 1 (the driver's start refused) and 2 (usage).
inline constexpr int kCommandDone = 0;          // the driver did it; with --quit it has ended
inline constexpr int kExitNoDriverRunning = 3;  // --quit: no driver of this user runs
inline constexpr int kExitNoSessionBus = 4;     // no channel to reach a driver through
inline constexpr int kExitNoAnswer = 5;         // a driver runs but did not take the command, or did not end
/// runDriverCommand's answer to --calibrate when no driver runs (or the one
/// that ran has ended meanwhile): the caller starts a driver that calibrates.
inline constexpr int kStartCalibratingDriver = -1;

/// How long a driver that holds the lock may take to answer: it takes the
/// lock first and offers its commands once its windows are up, which under
/// load takes seconds.
inline constexpr int kStartingDriverWaitMs = 20000;
/// How long a driver asked to end may take: the end saves the settings, and a
/// message box about a failed save waits for the user.
inline constexpr int kDriverEndWaitMs = 60000;

/// A process as a command sees it.
struct DriverProcess {
    std::int64_t pid = 0;     // 0: a driver holds the lock, but which process is not known yet
    std::string description;  // for messages: "process 1234 (oru-driver)"
    std::string unreachable;  // why no command can reach this driver (it has no session bus); empty when one can
};

/// How the answering process took a command.
enum class CommandAnswer {
    Taken,    // it runs the command
    Ending,   // the driver's end has begun: it takes no command any more
    NoOwner,  // nobody answers any more: it went between the look and the call
    Failed,   // anything else; the problem says what
};

/// The platform's way from a second start to the running driver: the session
/// bus on Linux, the main window's messages on Windows. The driver is the
/// process that holds this user's single-instance lock; whoever else answers
/// in its place is never believed.
class DriverChannel {
public:
    virtual ~DriverChannel() = default;

    /// Why no command can be sent from here at all (no session bus); nullopt when it can.
    virtual std::optional<std::string> unavailable() = 0;
    /// The process that holds this user's single-instance lock; nullopt when none does.
    virtual std::optional<DriverProcess> lockHolder() = 0;
    /// The process that answers commands (the bus name's owner, the main window's process); nullopt when none.
    virtual std::optional<DriverProcess> answerer() = 0;
    /// Advice when the lock holder never comes to answer: where it may run instead.
    virtual std::string silentDriverAdvice(const DriverProcess& holder) = 0;
    /// Hands the command to the answerer; problem says why when Failed.
    virtual CommandAnswer send(DriverCommand command, std::string& problem) = 0;
    /// Waits at most ms until the answerer may have changed or the holder may have ended.
    virtual void waitForChange(const DriverProcess& holder, int ms) = 0;
    /// Waits at most ms until the process has ended; true when it has.
    virtual bool waitForEnd(const DriverProcess& process, int ms) = 0;
    /// A monotonic clock, milliseconds.
    virtual std::int64_t nowMs() = 0;
    /// Tells the user who gave the command one line (English, for the terminal or the debugger's output).
    virtual void say(const std::string& line) = 0;
};

/// Gives command to the driver that holds this user's lock and returns the
/// exit status (or kStartCalibratingDriver), having said why on the channel
/// whenever the status is not kCommandDone. Quit returns once the driver's
/// process has ended. Every wait is bounded.
int runDriverCommand(DriverCommand command, DriverChannel& channel);

} // namespace oru
