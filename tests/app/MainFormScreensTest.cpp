// The main window following the board's screen on Qt's offscreen platform.
// The screens are listed by the test (the window's screen source) and a
// change is handed to screensChanged, as the screen watcher does after a
// burst of Qt's screen signals; reports reach ShowRead through the reader and
// the hand-off, as in the program.

#include "qtui/MainForm.h"
#include "qtui/CalibrationForm.h"
#include "settings/AppRegistryStorage.h"
#include "fakes/EmulatedPenTracker.h"
#include "qtui/TextTrayIcon.h"

#include "MainWindowTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <sstream>

namespace oru {
namespace {

using test::waitFor;

using Report = emulated::Report;

/// Records the pointer's calls; a button event notes the screen width the
/// warp was fitted for at that moment, so a release before the refit shows.
class ScreenAwarePointer final : public PointerOutput {
public:
    const TMainFormState* state = nullptr;
    std::vector<std::string> calls;

    void setCursorPos(int x, int y) override { calls.push_back("cursor " + xy(x, y)); }
    void mouseEvent(MouseButtonEvent event, int dx, int dy) override
    {
        static const char* const names[] = {"down left", "up left", "down right", "up right"};
        calls.push_back(std::string(names[static_cast<int>(event)]) + " " + xy(dx, dy) + " fitted for " +
                        std::to_string(state->ScreenWidth));
    }
    void pause(int) override {}
    void followScreens(const std::vector<ScreenArea>& screens, std::size_t board) override
    {
        const ScreenArea& a = screens.at(board);
        calls.push_back("follow " + xy(a.xLogical, a.yLogical) + " of " + std::to_string(screens.size()));
    }

private:
    static std::string xy(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }
};

const CalibrationTexts kStored{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
const ScreenRecord kPanel{"eDP-1", 0, 0, 1920, 1080, true};
const ScreenRecord kProjector{"HDMI-1", 1920, 0, 1366, 768, false};

class BoardScreenFollowing : public test::MainWindowTest<ScreenAwarePointer> {
protected:
    BoardScreenFollowing()
    {
        open();
        feeder.setInterval(1);
        QObject::connect(&feeder, &QTimer::timeout, [this] { feedOne(); });
    }
    ~BoardScreenFollowing() override
    {
        feeder.stop();
        close();
    }
    void open()
    {
        MainWindowTest::open();
        pointer.state = &main->state;
        main->setScreenSource([this] { return outputs; });
        for (int i = 0; i < 8; ++i) main->Edits[i]->setText(QString::fromStdString(kStored[i]));
    }
    void runFirstShow() { test::runFirstShow(*calibration); }
    void change(const std::vector<ScreenRecord>& now)
    {
        outputs = now;
        main->screensChanged(outputs);
    }
    // The pen at a board point: the last pointer call it made.
    std::string penAt(int penState, std::pair<double, double> board)
    {
        const std::size_t before = pointer.calls.size();
        const Report report = emulated::reportAt(penState, board.first, board.second);
        hid.pushReport(kTracker, std::vector<std::uint8_t>(report.begin(), report.end()));
        waitFor([&] { return main->state.LastPenState == penState && pointer.calls.size() > before; });
        return pointer.calls.size() > before ? pointer.calls[before + 1] : "";
    }
    void queueSteadyTarget(std::pair<double, double> board)
    {
        script.push_back(emulated::reportAt(psUp, board.first, board.second));
        for (int i = 0; i < 25; ++i) script.push_back(emulated::reportAt(psLeft, board.first, board.second));
        script.push_back(emulated::reportAt(psUp, board.first, board.second));
        if (!feeder.isActive()) feeder.start();
    }
    void feedOne()
    {
        if (script.empty()) return;
        const Report next = script.front();
        script.pop_front();
        hid.pushReport(kTracker, std::vector<std::uint8_t>(next.begin(), next.end()));
    }
    // This run's lines on stderr about the board's screen.
    static std::vector<std::string> boardLines(const std::string& captured)
    {
        std::vector<std::string> lines;
        std::istringstream in(captured);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("oruDriver: board screen ", 0) == 0 || line.rfind("oruDriver: the stored board", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }
    std::vector<std::string> menuEntries() const
    {
        std::vector<std::string> entries;
        for (const QAction* action : main->TahtaEkrani1->actions()) {
            if (action->isSeparator()) continue;
            entries.push_back((action->isChecked() ? "[x] " : "[ ] ") + action->text().toStdString());
        }
        return entries;
    }
    int balloons() const { return main->TrayIcon1->BalloonCount(); }

    static constexpr const char* kTracker = "0003:0020:0002.0001";
    std::vector<ScreenRecord> outputs{kPanel};
    std::deque<Report> script;
    QTimer feeder;
};

// Board corners 0 and 3 of kStored (where the calibration's pen holds
// still) and a point between them.
const std::pair<double, double> kCorner0{100, -150};
const std::pair<double, double> kCorner3{540, -510};
const std::pair<double, double> kMiddle{300, -300};

std::string rounded(float x, float y)
{
    return std::to_string(std::lround(x)) + " " + std::to_string(std::lround(y));
}

TEST_F(BoardScreenFollowing, HeldButtonGoesUpThenTheStoredCalibrationIsRefittedForTheNewSize)
{
    hid.plug(kTracker, emulated::kVendorId, emulated::kProductId);
    runFirstShow();
    waitFor([&] { return main->state.PenDevice != nullptr; });
    EXPECT_EQ(pointer.calls.front(), "follow 0 0 of 1");
    const std::string pressed = penAt(psLeft, kMiddle);
    const float beforeX = main->state.Warper.MappedX, beforeY = main->state.Warper.MappedY;
    EXPECT_EQ(pressed, "down left " + rounded(beforeX, beforeY) + " fitted for 1920");

    testing::internal::CaptureStderr();
    pointer.calls.clear();
    change({{"eDP-1", 0, 0, 1366, 768, true}});
    const auto lines = boardLines(testing::internal::GetCapturedStderr());
    ASSERT_EQ(pointer.calls.size(), 2u);
    EXPECT_EQ(pointer.calls[0], "up left " + rounded(beforeX, beforeY) + " fitted for 1920")
        << "released before the refit";
    EXPECT_EQ(pointer.calls[1], "follow 0 0 of 1");
    EXPECT_EQ(lines, std::vector<std::string>{"oruDriver: board screen eDP-1 1920x1080+0+0 primary -> eDP-1 "
                                              "1366x768+0+0 primary: stored calibration refitted for 1366x768"});
    EXPECT_EQ(main->state.Calibrated, 1);

    // The same pen position lands at the same place of the smaller picture.
    const std::string again = penAt(psLeft, kMiddle);
    const float afterX = main->state.Warper.MappedX, afterY = main->state.Warper.MappedY;
    EXPECT_NEAR(afterX, beforeX * 1366 / 1920, 0.01);
    EXPECT_NEAR(afterY, beforeY * 768 / 1080, 0.01);
    EXPECT_EQ(again, "down left " + rounded(afterX, afterY) + " fitted for 1366");
    // Another screen beside the unchanged board: the pointer follows the new desktop all the same.
    pointer.calls.clear();
    change({{"eDP-1", 0, 0, 1366, 768, true}, kProjector});
    EXPECT_EQ(pointer.calls, std::vector<std::string>{"follow 0 0 of 2"});
    EXPECT_TRUE(errors.empty());
}

TEST_F(BoardScreenFollowing, CalibrationUnderWayIsCancelledAndStartsAgainOnTheNewScreen)
{
    hid.plug(kTracker, emulated::kVendorId, emulated::kProductId);
    runFirstShow();
    // Each run as it starts: the first meets the change, the second gets the
    // pen on its four targets. Polled, since a run's start blocks in its own loop.
    int runs = 0;
    bool wasRunning = false;
    std::vector<QRect> shownAt;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const bool running = calibration->running();
        if (running && !wasRunning) {
            ++runs;
            shownAt.push_back(calibration->geometry());
            if (runs == 1) change({{"eDP-1", 0, 0, 1366, 768, true}});
            if (runs == 2) {
                for (const auto& corner : {kCorner0, std::pair<double, double>{550, -160}, {110, -500}, kCorner3})
                    queueSteadyTarget(corner);
            }
        }
        wasRunning = running;
    });
    watch.start();
    // A run that never completes ends the test by ESC instead of hanging it.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(calibration.get(), &escape);
    });
    giveUp.start(30000);
    testing::internal::CaptureStderr();
    main->Kalibre1Click();
    const auto lines = boardLines(testing::internal::GetCapturedStderr());

    EXPECT_EQ(runs, 2) << "one run cancelled, one on the new screen";
    EXPECT_EQ(shownAt, (std::vector<QRect>{QRect(0, 0, 1920, 1080), QRect(0, 0, 1366, 768)}));
    EXPECT_EQ(main->state.TargetPoints[3], (TPoint{1229, 691}));
    EXPECT_EQ(main->state.Calibrated, 1);
    EXPECT_EQ(main->state.Calibrating, 0);
    EXPECT_EQ(main->TrayIcon1->Color(), clGreen) << "the second run completed";
    EXPECT_EQ(lines, std::vector<std::string>{"oruDriver: board screen eDP-1 1920x1080+0+0 primary -> eDP-1 "
                                              "1366x768+0+0 primary: the calibration under way was cancelled and "
                                              "starts again on the new screen"});
    // The pen's last report (lifted at corner 3) handled: the next is the one below.
    const Report lifted = emulated::reportAt(psUp, kCorner3.first, kCorner3.second);
    waitFor([&] {
        return script.empty() && hid.queuedReports(kTracker) == 0 &&
               std::equal(lifted.begin(), lifted.end(), main->state.ReportBuffer.begin());
    });
    penAt(psLeft, kMiddle);
    EXPECT_NEAR(main->state.Warper.MappedX, 683, 80) << "mapped for 1366 x 768, near its middle";
}

TEST_F(BoardScreenFollowing, ChosenScreenServesWhileConnectedAndThePrimaryStandsInOnceEachTimeItGoes)
{
    outputs = {kPanel, kProjector};
    runFirstShow();
    EXPECT_EQ(menuEntries(), (std::vector<std::string>{"[x] Birincil ekran", "[ ] eDP-1 (1920x1080, birincil)",
                                                      "[ ] HDMI-1 (1366x768)"}));
    // The board moves to another picture: a calibration starts on it. ESC
    // leaves the stored calibration, refitted for that screen.
    std::vector<QRect> calibrationsAt;
    QTimer escapeRun;
    escapeRun.setInterval(5);
    QObject::connect(&escapeRun, &QTimer::timeout, [&] {
        if (!calibration->running() || !calibration->isVisible()) return;
        calibrationsAt.push_back(calibration->geometry());
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(calibration.get(), &escape);
        escapeRun.stop();
    });
    escapeRun.start();
    main->TahtaEkrani1->actions().back()->trigger();  // queued: the menu is rebuilt after the click
    waitFor([&] { return main->state.ScreenWidth == 1366 && !calibration->running(); });
    EXPECT_EQ(calibrationsAt, std::vector<QRect>{QRect(1920, 0, 1366, 768)});
    EXPECT_EQ(main->state.Calibrated, 1);
    EXPECT_EQ(menuEntries(), (std::vector<std::string>{"[ ] Birincil ekran", "[ ] eDP-1 (1920x1080, birincil)",
                                                      "[x] HDMI-1 (1366x768)"}));
    EXPECT_EQ(pointer.calls.back(), "follow 1920 0 of 2");
    TAppRegistryStorage reader(store);
    reader.setRoot(TCustomAppStorage::kNoRoot);
    EXPECT_EQ(reader.ReadText("Software\\oruDriver\\BoardScreen_Text", "missing"), "HDMI-1") << "saved at once";

    const std::vector<std::vector<ScreenRecord>> changes = {
        {kPanel},                                   // unplugged: the primary serves, said once
        {{"eDP-1", 0, 0, 1366, 768, true}},         // the primary changes meanwhile: nothing more said
        {kPanel, kProjector},                       // back: the board again
        {kPanel},                                   // gone again: said again
    };
    const std::vector<std::pair<int, int>> widthAndBalloons = {{1920, 1}, {1366, 1}, {1366, 1}, {1920, 2}};
    testing::internal::CaptureStderr();
    for (std::size_t i = 0; i < changes.size(); ++i) {
        change(changes[i]);
        EXPECT_EQ(main->state.ScreenWidth, widthAndBalloons[i].first) << "change " << i;
        EXPECT_EQ(balloons(), widthAndBalloons[i].second) << "change " << i;
    }
    const auto lines = boardLines(testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "oruDriver: board screen HDMI-1 1366x768+1920+0 -> eDP-1 1920x1080+0+0 primary: stored "
                        "calibration refitted for 1920x1080; the chosen screen 'HDMI-1' is not connected, the "
                        "primary screen serves until it is");
    EXPECT_EQ(menuEntries(), (std::vector<std::string>{"[ ] Birincil ekran", "[ ] eDP-1 (1920x1080, birincil)",
                                                      "[x] HDMI-1 (bağlı değil)"}));
}

TEST_F(BoardScreenFollowing, StoredChoiceThatCantBeUsedStartsOnThePrimaryAndIsKept)
{
    struct Row {
        std::string stored;
        std::string line;
        int balloons;
    };
    const std::vector<Row> rows = {
        {"DP-2",
         "oruDriver: the stored board screen 'DP-2' is not connected; the primary screen eDP-1 1920x1080+0+0 "
         "primary serves until it is. Connect it, or choose another screen in the tray menu \"Tahta ekranı\"",
         1},
        {std::string(65, 'x'),
         "oruDriver: the stored board screen (value BoardScreen_Text) can't be used (it is longer than 64 bytes); "
         "the primary screen eDP-1 1920x1080+0+0 primary serves. Choose the board's screen in the tray menu "
         "\"Tahta ekranı\"; the stored value is kept until then",
         0},
        {"HDMI\t1",
         "oruDriver: the stored board screen (value BoardScreen_Text) can't be used (it holds control characters); "
         "the primary screen eDP-1 1920x1080+0+0 primary serves. Choose the board's screen in the tray menu "
         "\"Tahta ekranı\"; the stored value is kept until then",
         0},
    };
    outputs = {kPanel, kProjector};
    for (const Row& row : rows) {
        close();
        TAppRegistryStorage writer(store);
        writer.setRoot(TCustomAppStorage::kNoRoot);
        writer.WriteText("Software\\oruDriver\\BoardScreen_Text", row.stored);
        open();
        testing::internal::CaptureStderr();
        runFirstShow();
        EXPECT_EQ(boardLines(testing::internal::GetCapturedStderr()), std::vector<std::string>{row.line});
        EXPECT_EQ(main->state.ScreenWidth, 1920);
        EXPECT_EQ(balloons(), row.balloons);
        main->FormStorage1.PersistState();
        TAppRegistryStorage reader(store);
        reader.setRoot(TCustomAppStorage::kNoRoot);
        EXPECT_EQ(reader.ReadText("Software\\oruDriver\\BoardScreen_Text", ""), row.stored) << "nothing lost";
    }
}

} // namespace
} // namespace oru
