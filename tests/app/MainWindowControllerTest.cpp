// The main window's logic against a scripted shell: no toolkit, no event loop.

#include "app/MainWindowController.h"
#include "common/HandlerErrors.h"
#include "fakes/RecordingPointerOutput.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace oru {
namespace {

const CalibrationTexts kStored{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
const CalibrationTexts kMachine{"120", "-140", "530", "-170", "130", "-480", "520", "-520"};
const CalibrationTexts kNone{"0", "0", "0", "0", "0", "0", "0", "0"};
const ScreenRecord kPanel{"eDP-1", 0, 0, 1920, 1080, true};
const ScreenRecord kProjector{"HDMI-1", 1920, 0, 1366, 768, false};

/// The windows as a log of what the controller asked of them. A calibration
/// "runs" by calling duringRun, if set, then closes.
class ScriptedShell final : public MainWindowShell {
public:
    std::vector<std::string> log;
    std::vector<ScreenRecord> outputs;
    CalibrationTexts texts = kNone;
    std::string choice;
    bool calibrationWindow = true;
    bool underWay = false;
    std::function<void(int run)> duringRun;
    int runs = 0;
    test::RecordingPointerOutput* pointer = nullptr;

    bool hasCalibrationWindow() const override { return calibrationWindow; }
    bool calibrationUnderWay() const override { return underWay; }
    void raiseCalibration() override { log.push_back("raise calibration"); }
    void runCalibration() override
    {
        log.push_back("run calibration");
        underWay = true;
        if (duringRun) duringRun(++runs);
        underWay = false;
    }
    void closeCalibration() override { log.push_back("close calibration"); }
    void placeCalibration(const DesktopScreen& board) override { log.push_back("place on " + board.geometry.name); }
    void endCalibration() override { log.push_back("end calibration"); }
    void showAboutBox() override { log.push_back("about box"); }
    void quit() override { log.push_back("quit"); }
    void paintTray(TColor color, TColor fontColor) override
    {
        log.push_back("tray " + std::to_string(color) + "/" + std::to_string(fontColor));
    }
    void showNotice(const std::string& text) override { log.push_back("notice " + text); }
    void showBoardScreenMenu(const std::vector<DesktopScreen>& screens, const std::string& chosen) override
    {
        log.push_back("menu " + std::to_string(screens.size()) + " '" + chosen + "'");
    }
    void startWatchdogTimer(std::chrono::milliseconds delay) override
    {
        log.push_back("watchdog " + std::to_string(delay.count()));
    }
    void stopWatchdogTimer() override
    {
        // With the pointer's last call: the button goes up before the timer stops.
        log.push_back("stop watchdog after '" + (pointer->calls.empty() ? "" : pointer->calls.back()) + "'");
    }
    std::vector<ScreenRecord> screens() const override { return outputs; }
    std::pair<int, int> primaryScreenSizePx() const override { return {1280, 800}; }
    CalibrationTexts calibrationTexts() const override { return texts; }
    void setCalibrationTexts(const CalibrationTexts& t) override
    {
        texts = t;
        log.push_back("texts " + t[0]);
    }
    std::string boardScreenChoice() const override { return choice; }
    void setBoardScreenChoice(const std::string& c) override { choice = c; }
    void saveCalibrationTexts(bool save) override { log.push_back(save ? "save texts" : "keep texts unsaved"); }
    void persistTexts() override { log.push_back("persist"); }
    void saveAtEnd() override { log.push_back("save at end"); }
    void saveAtSessionEnd() override { log.push_back("save at session end"); }
    void removeTray() override { log.push_back("remove tray"); }
    void unwatchDevices() override { log.push_back("unwatch devices"); }
};

struct Driver {
    Driver()
    {
        shell.pointer = &pointer;
        controller.created();
        shell.log.clear();
    }
    /// Only the entries that start with one of the prefixes.
    std::vector<std::string> logOf(std::initializer_list<const char*> prefixes) const
    {
        std::vector<std::string> kept;
        for (const auto& line : shell.log) {
            for (const char* prefix : prefixes) {
                if (line.rfind(prefix, 0) == 0) {
                    kept.push_back(line);
                    break;
                }
            }
        }
        return kept;
    }

    PenTime now{0};
    TMainFormState state;
    test::RecordingPointerOutput pointer;
    ScriptedShell shell;
    MainWindowController controller{state, pointer, shell, [this] { return now; }};
};

TEST(MainWindowController, FirstShowMapsWithTheOwnThenTheMachinesCalibrationElseCalibratesAndTurnsBlue)
{
    const std::string blue = "tray " + std::to_string(clBlue) + "/" + std::to_string(clWhite);
    struct Row {
        const char* name;
        CalibrationTexts own;
        std::optional<CalibrationTexts> machine;
        std::vector<ScreenRecord> outputs;
        std::vector<std::string> log;  // calibration, texts and tray entries
        int screenWidth;
        int calibrated;
    };
    const Row rows[] = {
        {"own stored", kStored, kMachine, {kPanel}, {}, 1920, 1},
        {"machine's for an account without", kNone, kMachine, {kPanel}, {"texts 120", "keep texts unsaved"}, 1920, 1},
        {"neither", kNone, std::nullopt, {kPanel}, {"run calibration", blue}, 1920, 0},
        {"no output listed: the primary's size", kStored, std::nullopt, {}, {}, 1280, 1},
        {"the board is the projector when chosen", kStored, std::nullopt, {kPanel, kProjector}, {}, 1366, 1},
    };
    for (const Row& row : rows) {
        Driver driver;
        driver.shell.texts = row.own;
        driver.shell.outputs = row.outputs;
        if (row.outputs.size() > 1) driver.shell.choice = "HDMI-1";
        int machineAsked = 0;
        driver.controller.setMachineCalibration([&]() -> std::optional<CalibrationTexts> {
            ++machineAsked;
            return row.machine;
        });
        driver.controller.firstShow();
        EXPECT_EQ(driver.logOf({"run", "texts", "keep", "save", "tray"}), row.log) << row.name;
        EXPECT_EQ(driver.state.ScreenWidth, row.screenWidth) << row.name;
        EXPECT_EQ(driver.state.Calibrated, row.calibrated) << row.name;
        EXPECT_EQ(machineAsked, row.own == kNone ? 1 : 0) << row.name << ": asked only for an account without";
    }
}

TEST(MainWindowController, TheMachinesCalibrationIsSavedAsTheUsersOnlyOnceTheUserCalibrates)
{
    Driver driver;
    driver.shell.outputs = {kPanel};
    driver.controller.setMachineCalibration([] { return std::optional<CalibrationTexts>(kMachine); });
    driver.controller.firstShow();
    driver.controller.storeCalibrationTexts(kStored);
    driver.controller.calibrationCompleted();
    driver.controller.storeCalibrationTexts(kStored);
    EXPECT_EQ(driver.logOf({"texts", "keep", "save", "persist"}),
              (std::vector<std::string>{"texts 120", "keep texts unsaved", "save texts", "texts 100", "persist",
                                        "texts 100"}));
}

TEST(MainWindowController, ChangesOfTheBoardsScreenCancelAndRestartARunOrRefit)
{
    struct Row {
        const char* name;
        bool changeDuringFirstRun;  // else: after the first show, with no run under way
        std::vector<ScreenRecord> after;
        std::vector<std::string> log;  // calibration entries
        int screenWidth;
    };
    const Row rows[] = {
        {"run under way: cancelled, starts again on the new screen", true, {kProjector},
         {"run calibration", "close calibration", "run calibration"}, 1366},
        {"none under way: refitted", false, {kProjector}, {}, 1366},
        {"same board, another screen added: nothing to refit", false, {kPanel, kProjector}, {}, 1920},
    };
    for (const Row& row : rows) {
        Driver driver;
        driver.shell.texts = kStored;
        driver.shell.outputs = {kPanel};
        driver.controller.firstShow();
        driver.shell.log.clear();
        driver.state.LastPenState = psLeft;  // a press made on the old mapping
        if (row.changeDuringFirstRun) {
            int cancelled = 0;
            driver.shell.duringRun = [&](int run) {
                if (run != 1) return;
                driver.controller.screensChanged(row.after);
                cancelled = driver.state.CalCancelled;  // as if ESC was pressed
            };
            driver.controller.Kalibre1Click();
            EXPECT_EQ(cancelled, 1) << row.name;
        } else {
            driver.controller.screensChanged(row.after);
        }
        EXPECT_EQ(driver.logOf({"run", "close", "raise"}), row.log) << row.name;
        EXPECT_EQ(driver.state.ScreenWidth, row.screenWidth) << row.name;
        const bool boardChanged = row.after.size() == 1;
        EXPECT_EQ(driver.state.LastPenState, boardChanged ? psUp : psLeft) << row.name << ": released on a change";
    }
}

TEST(MainWindowController, ChoosingAnotherBoardScreenIsSavedAtOnceAndCalibratesOnIt)
{
    Driver driver;
    driver.shell.texts = kStored;
    driver.shell.outputs = {kPanel, kProjector};
    driver.controller.screensChanged(driver.shell.outputs);
    EXPECT_TRUE(driver.shell.log.empty()) << "before the first show nothing is looked at";
    driver.controller.firstShow();
    driver.controller.chooseBoardScreen("HDMI-1");
    driver.controller.chooseBoardScreen("HDMI-1");
    EXPECT_EQ(driver.logOf({"persist", "run", "place", "menu"}),
              (std::vector<std::string>{"menu 2 ''", "place on eDP-1", "persist", "menu 2 'HDMI-1'",
                                        "place on HDMI-1", "run calibration", "persist", "menu 2 'HDMI-1'",
                                        "place on HDMI-1"}));
}

TEST(MainWindowController, OneCalibrationAtATimeAndNoneWithoutItsWindow)
{
    struct Row {
        const char* name;
        bool window;
        bool underWay;
        std::vector<std::string> log;
        int calibrating;
        bool ending = false;
    };
    const Row rows[] = {
        {"idle", true, false, {"run calibration"}, 1},
        {"under way: brought to the front", true, true, {"raise calibration"}, 0},
        {"no window yet", false, false, {}, 0},
        {"\"Çıkış\" has begun: the end goes on", true, false, {}, 0, true},
    };
    for (const Row& row : rows) {
        Driver driver;
        driver.shell.calibrationWindow = row.window;
        driver.shell.underWay = row.underWay;
        if (row.ending) driver.controller.shutdown();
        driver.shell.log.clear();
        driver.controller.Kalibre1Click();
        EXPECT_EQ(driver.shell.log, row.log) << row.name;
        EXPECT_EQ(driver.state.Calibrating, row.calibrating) << row.name;
    }
}

TEST(MainWindowController, ExitReleasesTheButtonStopsTheWatchdogEndsTheRunThenQuitsOnce)
{
    Driver driver;
    driver.state.LastPenState = psLeft;
    driver.controller.k1Click();
    driver.controller.shutdown();
    EXPECT_EQ(driver.shell.log,
              (std::vector<std::string>{"stop watchdog after 'up left 0 0'", "end calibration", "quit"}));
    EXPECT_EQ(driver.pointer.calls, (std::vector<std::string>{"up left 0 0"}));
}

TEST(MainWindowController, LeavingTheSessionLetsGoOfAHeldButtonAndGoesOn)
{
    Driver driver;
    driver.state.LastPenState = psLeft;
    driver.controller.sessionLeft();
    EXPECT_EQ(driver.pointer.calls, (std::vector<std::string>{"up left 0 0"}));
    EXPECT_FALSE(driver.controller.ending());
}

TEST(MainWindowController, TheWindowsEndReleasesFirstThenSavesThenDropsTheTrayThenTheDevices)
{
    struct Row {
        const char* name;
        bool exitedFirst;  // "Çıkış" before the window's end
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"end alone", false,
         {"stop watchdog after 'up left 0 0'", "save at end", "remove tray", "unwatch devices"}},
        {"after Çıkış: released and stopped once", true,
         {"stop watchdog after 'up left 0 0'", "end calibration", "quit", "save at end", "remove tray",
          "unwatch devices"}},
    };
    for (const Row& row : rows) {
        Driver driver;
        driver.state.LastPenState = psLeft;
        if (row.exitedFirst) driver.controller.k1Click();
        driver.controller.end();
        EXPECT_EQ(driver.shell.log, row.log) << row.name;
        EXPECT_EQ(driver.pointer.calls, std::vector<std::string>{"up left 0 0"}) << row.name;
    }
}

TEST(MainWindowController, SessionEndSavesWithErrorsToStderr)
{
    Driver driver;
    driver.controller.sessionEnding();
    EXPECT_EQ(driver.shell.log, std::vector<std::string>{"save at session end"});
    std::vector<std::string> boxes;
    setHandlerErrorReporter([&](const std::string& text) { boxes.push_back(text); });
    testing::internal::CaptureStderr();
    driver.controller.reportStorageError(std::runtime_error("disk full"));
    const std::string stderrText = testing::internal::GetCapturedStderr();
    setHandlerErrorReporter(nullptr);
    EXPECT_TRUE(boxes.empty()) << "nobody is there to answer a box";
    EXPECT_NE(stderrText.find("(disk full)"), std::string::npos) << stderrText;
}

TEST(MainWindowController, WatchdogTimerIsSetForTheNextDueTickRoundedUp)
{
    Driver driver;
    struct Row {
        PenTime now;
        const char* armed;
    };
    // Due every 250 ms from the start (0); a tick at or after the due time moves it on.
    const Row rows[] = {
        {std::chrono::microseconds{100}, "watchdog 250"},   // early: the rest, rounded up
        {std::chrono::microseconds{249'500}, "watchdog 1"},  // 0.5 ms left: 1, never 0 while not due
        {std::chrono::milliseconds{250}, "watchdog 250"},   // due: ticks, next in a full interval
        {std::chrono::milliseconds{1130}, "watchdog 120"},  // late: keeps the phase
    };
    for (const Row& row : rows) {
        driver.now = row.now;
        driver.shell.log.clear();
        driver.controller.watchdogTimer();
        EXPECT_EQ(driver.shell.log, std::vector<std::string>{row.armed}) << row.now.count();
    }
}

} // namespace
} // namespace oru
