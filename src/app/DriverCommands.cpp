#include "app/DriverCommands.h"

#include <algorithm>

namespace oru {

namespace {

// Waits for the driver's end: ended is the status when it came, else the
// driver's state (what) is said with the time waited.
int endOf(const DriverProcess& driver, DriverChannel& channel, int ended, const char* what)
{
    if (channel.waitForEnd(driver, kDriverEndWaitMs)) return ended;
    channel.say("the driver (" + driver.description + ") " + what + " but still runs after " +
                std::to_string(kDriverEndWaitMs / 1000) +
                " s; a message box about its settings may wait for an answer on the screen");
    return kExitNoAnswer;
}

} // namespace

int runDriverCommand(DriverCommand command, DriverChannel& channel)
{
    const bool quit = command == DriverCommand::Quit;
    if (const auto why = channel.unavailable()) {
        channel.say(*why);
        return kExitNoSessionBus;
    }
    const std::int64_t startDeadline = channel.nowMs() + kStartingDriverWaitMs;
    for (;;) {
        const auto holder = channel.lockHolder();
        const auto answerer = channel.answerer();
        if (!holder) {
            if (!quit) return kStartCalibratingDriver;
            channel.say("no driver of this user runs; nothing to end" +
                        (answerer ? " (" + answerer->description + " answers in the driver's name, but it is not "
                                    "the driver)"
                                  : std::string()));
            return kExitNoDriverRunning;
        }
        if (!holder->unreachable.empty()) {
            channel.say("the driver of this user (" + holder->description + ") can't be reached: " +
                        holder->unreachable);
            return kExitNoAnswer;
        }
        // The lock holder is the driver; a pid of 0 is a driver that has
        // taken the lock but has not said who it is yet.
        if (answerer && holder->pid != 0 && answerer->pid != holder->pid) {
            channel.say("the driver of this user is " + holder->description + ", but " + answerer->description +
                        " answers in its name; nothing was sent. End that process, then start the driver again");
            return kExitNoAnswer;
        }
        const std::int64_t now = channel.nowMs();
        if (!answerer || holder->pid == 0) {
            if (now >= startDeadline) {
                channel.say("a driver of this user runs (" + holder->description + ") but does not answer: " +
                            channel.silentDriverAdvice(*holder));
                return kExitNoAnswer;
            }
            channel.waitForChange(*holder, static_cast<int>(std::min<std::int64_t>(startDeadline - now, 1 << 30)));
            continue;
        }
        std::string problem;
        switch (channel.send(command, problem)) {
        case CommandAnswer::Taken:
            return quit ? endOf(*holder, channel, kCommandDone, "was asked to end") : kCommandDone;
        case CommandAnswer::Ending:
            if (quit) {
                channel.say("the driver (" + holder->description + ") is already ending; waiting for its end");
                return endOf(*holder, channel, kCommandDone, "is ending");
            }
            // Its end would lose the calibration asked for: a driver started
            // after it calibrates.
            channel.say("the driver (" + holder->description + ") is ending; a new driver that calibrates starts "
                        "once it has ended");
            return endOf(*holder, channel, kStartCalibratingDriver, "is ending");
        case CommandAnswer::NoOwner:
            // Gone between the look and the call: look again, within the start's bound.
            if (now >= startDeadline) {
                channel.say("the driver (" + holder->description + ") went off while the command was sent");
                return kExitNoAnswer;
            }
            continue;
        case CommandAnswer::Failed:
            channel.say("the driver (" + holder->description + ") did not take the command (" + problem + ")");
            return kExitNoAnswer;
        }
    }
}

} // namespace oru
