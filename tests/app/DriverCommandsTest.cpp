// A second start's --calibrate and --quit: the status each situation ends
// with, and that nothing is sent to a process that isn't the lock holder.

#include "app/DriverCommands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace oru {
namespace {

struct Row {
    const char* name;
    DriverCommand command;
    std::optional<int> holder;       // the lock holder's pid; 0: holds it, not yet known who
    std::optional<int> answerer;     // who answers, once answerAfterWaits waits have passed
    int expected;
    const char* said;                // part of the line said; "" when nothing must be said
    int answerAfterWaits = 0;
    CommandAnswer answer = CommandAnswer::Taken;
    bool ends = true;                // the holder ends when waited for
    bool bus = true;
    const char* unreachable = "";
};

class ScriptedChannel : public DriverChannel {
public:
    explicit ScriptedChannel(const Row& row) : row_(row) {}

    std::optional<std::string> unavailable() override
    {
        return row_.bus ? std::nullopt : std::optional<std::string>("no session bus");
    }
    std::optional<DriverProcess> lockHolder() override
    {
        if (!row_.holder || holderGone_) return std::nullopt;
        return DriverProcess{*row_.holder, "driver", row_.unreachable};
    }
    std::optional<DriverProcess> answerer() override
    {
        if (!row_.answerer || waits_ < row_.answerAfterWaits || holderGone_) return std::nullopt;
        return DriverProcess{*row_.answerer, "answerer", ""};
    }
    std::string silentDriverAdvice(const DriverProcess&) override { return "elsewhere"; }
    CommandAnswer send(DriverCommand command, std::string& problem) override
    {
        EXPECT_EQ(command, row_.command);
        ++sent;
        problem = "refused";
        holderGone_ = row_.answer == CommandAnswer::NoOwner;  // it went between the look and the call
        return row_.answer;
    }
    void waitForChange(const DriverProcess&, int ms) override
    {
        ++waits_;
        // A driver that starts comes within a second; one that never does is waited for whole.
        now_ += waits_ <= row_.answerAfterWaits ? 1000 : ms;
    }
    bool waitForEnd(const DriverProcess&, int ms) override { return row_.ends || (now_ += ms, false); }
    std::int64_t nowMs() override { return now_; }
    void say(const std::string& line) override { said += line + "\n"; }

    std::string said;
    int sent = 0;

private:
    const Row& row_;
    std::int64_t now_ = 0;
    int waits_ = 0;
    bool holderGone_ = false;
};

TEST(DriverCommands, OnlyTheLockHolderIsAskedAndEveryStatusIsTrue)
{
    constexpr auto kCalibrate = DriverCommand::Calibrate;
    constexpr auto kQuit = DriverCommand::Quit;
    const Row rows[] = {
        {"no bus", kQuit, 7, 7, kExitNoSessionBus, "no session bus", 0, CommandAnswer::Taken, true, false},
        {"quit, none runs", kQuit, std::nullopt, std::nullopt, kExitNoDriverRunning, "no driver of this user runs"},
        {"quit, a squatter but no driver", kQuit, std::nullopt, 9, kExitNoDriverRunning, "answerer answers in the"},
        {"calibrate, none runs: start one", kCalibrate, std::nullopt, std::nullopt, kStartCalibratingDriver, ""},
        {"calibrate, a squatter but no driver", kCalibrate, std::nullopt, 9, kStartCalibratingDriver, ""},
        {"driver without a bus", kQuit, 7, std::nullopt, kExitNoAnswer, "can't be reached: no bus", 0,
         CommandAnswer::Taken, true, true, "no bus"},
        {"squatter beside the driver", kCalibrate, 7, 9, kExitNoAnswer, "answerer answers in its name"},
        {"driver still starting, then answers", kCalibrate, 7, 7, kCommandDone, "", 3},
        {"holder not yet known: the answerer is not believed", kQuit, 0, 7, kExitNoAnswer, "does not answer"},
        {"holder never answers", kQuit, 7, std::nullopt, kExitNoAnswer, "does not answer: elsewhere"},
        {"quit taken, ends", kQuit, 7, 7, kCommandDone, ""},
        {"quit taken, never ends", kQuit, 7, 7, kExitNoAnswer, "was asked to end but still runs", 0,
         CommandAnswer::Taken, false},
        {"quit while ending", kQuit, 7, 7, kCommandDone, "already ending", 0, CommandAnswer::Ending},
        {"calibrate while ending: start one after", kCalibrate, 7, 7, kStartCalibratingDriver,
         "a new driver that calibrates", 0, CommandAnswer::Ending},
        {"calibrate while ending, never ends", kCalibrate, 7, 7, kExitNoAnswer, "is ending but still runs", 0,
         CommandAnswer::Ending, false},
        {"refused", kCalibrate, 7, 7, kExitNoAnswer, "did not take the command (refused)", 0,
         CommandAnswer::Failed},
        {"gone while sent, quit", kQuit, 7, 7, kExitNoDriverRunning, "no driver", 0, CommandAnswer::NoOwner},
        {"gone while sent, calibrate", kCalibrate, 7, 7, kStartCalibratingDriver, "", 0, CommandAnswer::NoOwner},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedChannel channel(row);
        EXPECT_EQ(runDriverCommand(row.command, channel), row.expected);
        if (*row.said) {
            EXPECT_NE(channel.said.find(row.said), std::string::npos) << channel.said;
        } else {
            EXPECT_EQ(channel.said, "");
        }
        // Nothing goes to a process that isn't the lock holder.
        if (row.answerer && row.holder != row.answerer) EXPECT_EQ(channel.sent, 0);
    }
}

} // namespace
} // namespace oru
