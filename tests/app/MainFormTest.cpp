// The main window and the calibration window on Qt's offscreen platform,
// driven as the program drives them: reports of the pen tracker go through
// its reader and the hand-off to ShowRead on the main thread while the
// calibration pumps events.

#include "qtui/MainForm.h"
#include "qtui/CalibrationForm.h"
#include "calibration/CalibrationGeometry.h"
#include "device/HidDeviceController.h"
#include "fakes/EmulatedPenTracker.h"
#include "fakes/RecordingPointerOutput.h"
#include "qtui/TextTrayIcon.h"

#include "MainWindowTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oru {
namespace {

using test::waitFor;
using namespace std::chrono_literals;

using Report = emulated::Report;

class MainWindow : public test::MainWindowTest<> {
protected:
    MainWindow()
    {
        open();
        feeder.setInterval(1);
        QObject::connect(&feeder, &QTimer::timeout, [this] { feedOne(); });
    }
    ~MainWindow() override
    {
        feeder.stop();
        runWatch.stop();
        close();
    }

    void setTexts(const CalibrationTexts& texts)
    {
        for (int i = 0; i < 8; ++i) main->Edits[i]->setText(QString::fromStdString(texts[i]));
    }

    // The pen tracker the tests that send reports plug in before the first
    // show; the window claims it at its first device scan.
    static constexpr const char* kTracker = "0003:0020:0002.0001";
    void plugTracker() { hid.plug(kTracker, emulated::kVendorId, emulated::kProductId); }

    // Reports the tracker sends, one per millisecond.
    void queue(const Report& report, int times = 1)
    {
        lastQueued = report;
        for (int i = 0; i < times; ++i) script.push_back({report});
        if (!feeder.isActive()) feeder.start();
    }
    // The pen held on the shown target until the run has taken it: on a busy
    // machine one look of the run may meet several reports, so a fixed number
    // of them could fall short.
    void queueSteadyTarget(double x, double y)
    {
        queue(emulated::reportAt(psUp, x, y));
        lastQueued = emulated::reportAt(psLeft, x, y);
        script.push_back({lastQueued, Step::Touch});
        queue(lastQueued, 24);
        script.push_back({lastQueued, Step::HoldUntilTaken});
        queue(emulated::reportAt(psUp, x, y));
    }
    void queueEscape()
    {
        script.push_back({});
        if (!feeder.isActive()) feeder.start();
    }
    void feedOne()
    {
        if (main->state.Calibrated != 1) callsBeforeCalibrated = pointer.calls.size();
        if (script.empty()) return;
        const Step step = script.front();
        const QPoint target = calibration->target1->pos();
        if (step.kind == Step::Touch) touchedAt = target;
        if (step.kind == Step::HoldUntilTaken && calibration->running() && target == touchedAt) {
            hid.pushReport(kTracker, std::vector<std::uint8_t>(step.report->begin(), step.report->end()));
            return;
        }
        script.pop_front();
        if (step.kind == Step::HoldUntilTaken) return;
        const auto& next = step.report;
        if (!next) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(calibration.get(), &press);
            return;
        }
        hid.pushReport(kTracker, std::vector<std::uint8_t>(next->begin(), next->end()));
    }
    // Runs `then` once the calibration run shows its first target, so that
    // no sample it is given is handled before the run takes samples (on a
    // busy machine the run starts late). Polled: the run blocks in its own loop.
    void onceTheRunShowsATarget(std::function<void()> then)
    {
        QObject::disconnect(&runWatch, nullptr, nullptr, nullptr);
        runWatch.setInterval(5);
        QObject::connect(&runWatch, &QTimer::timeout, [this, then] {
            const bool shown = calibration->target1->isVisibleTo(calibration.get()) ||
                               calibration->target2->isVisibleTo(calibration.get());
            if (!calibration->running() || !shown) return;
            runWatch.stop();
            then();
        });
        runWatch.start();
    }
    QTimer runWatch;
    // Runs the event loop until the last queued report has reached ShowRead.
    void waitForLastReport()
    {
        const Report last = lastQueued;
        waitFor([&] {
            return script.empty() && hid.queuedReports(kTracker) == 0 &&
                   std::equal(last.begin(), last.end(), main->state.ReportBuffer.begin());
        });
    }
    // Lets the queued first show run, with whatever it starts.
    void runFirstShow() { test::runFirstShow(*calibration); }
    // Decoded board point of a report, as the calibration sees it.
    static std::pair<std::string, std::string> rawTexts(const Report& report)
    {
        TMainFormState state;
        test::RecordingPointerOutput pointer;
        PenPipeline(state, pointer).decode(report.data(), 5);
        return {std::to_string(state.RawX), std::to_string(state.RawY)};
    }
    CalibrationTexts expectedTexts(const std::array<std::pair<double, double>, 4>& board)
    {
        CalibrationTexts texts;
        for (int k = 0; k < 4; ++k) {
            const auto [x, y] = rawTexts(emulated::reportAt(psLeft, board[k].first, board[k].second));
            texts[2 * k] = x;
            texts[2 * k + 1] = y;
        }
        return texts;
    }
    TColor trayColor() const { return main->TrayIcon1->Color(); }

    // A report, or ESC when none; Touch notes where the shown target is,
    // HoldUntilTaken repeats its report while the run still shows it there.
    struct Step {
        std::optional<Report> report;
        enum Kind { Send, Touch, HoldUntilTaken } kind = Send;
    };
    std::deque<Step> script;
    QPoint touchedAt;
    Report lastQueued{};
    std::size_t callsBeforeCalibrated = 0;
    QTimer feeder;
};

const std::array<std::pair<double, double>, 4> kBoard = {{{100, -150}, {550, -160}, {110, -500}, {540, -510}}};

TEST_F(MainWindow, FreshWindowHasEveryFlagClearAndTextsAtZero)
{
    EXPECT_EQ(main->state.Calibrating, 0);
    EXPECT_EQ(main->state.Calibrated, 0);
    EXPECT_EQ(main->state.PenDevice, nullptr);
    EXPECT_EQ(main->state.InsetRatio, 0.1f);
    for (auto* edit : main->Edits) EXPECT_EQ(edit->text(), "0");
    EXPECT_EQ(main->Edits[0]->objectName(), "Edit1");
    EXPECT_EQ(main->Edits[7]->property("Text").toString(), "0");
    EXPECT_EQ(trayColor(), clRed);
    EXPECT_FALSE(main->isVisible()) << "the main window is never mapped";
}

TEST_F(MainWindow, StoredCalibrationIsFittedWithoutCalibrating)
{
    setTexts({"0", "-150", "550", "-160", "110", "-500", "540", "-510"});  // Edit1 "0" alone is not "missing"
    runFirstShow();
    EXPECT_EQ(main->state.Calibrated, 1);
    EXPECT_EQ(main->state.Calibrating, 0);
    EXPECT_FALSE(main->state.Warper.Dirty);
    EXPECT_EQ(trayColor(), clRed) << "the first show leaves the colour alone";
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindow, TargetsZeroAndOneAtZeroStartACalibrationThenTurnBlue)
{
    setTexts({"0", "0", "0", "0", "110", "-500", "540", "-510"});
    QTimer::singleShot(700, [this] { queueEscape(); });
    runFirstShow();
    EXPECT_EQ(main->state.Calibrated, 0);
    EXPECT_EQ(trayColor(), clBlue);
    EXPECT_EQ(main->TrayIcon1->Font().Color(), clWhite);
    EXPECT_EQ(main->Edits[4]->text(), "110") << "a cancelled run keeps the texts";
}

TEST_F(MainWindow, NonIntegerTextIsReportedAndNothingElseHappens)
{
    setTexts({"12", "1.5", "3", "4", "5", "6", "7", "8"});
    runFirstShow();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "'1.5' is not a valid integer value.");
    EXPECT_EQ(main->state.Calibrated, 0);
    EXPECT_FALSE(calibration->isVisible());
}

TEST_F(MainWindow, CalibrationFromTheMenuTakesReportsThroughShowRead)
{
    plugTracker();
    setTexts({"0", "0", "0", "0", "0", "0", "0", "0"});
    onceTheRunShowsATarget([this] {
        for (const auto& [x, y] : kBoard) queueSteadyTarget(x, y);
    });
    runFirstShow();  // nothing stored: the first show calibrates
    EXPECT_EQ(main->calibrationTexts(), expectedTexts(kBoard));
    EXPECT_EQ(main->state.Calibrated, 1);
    EXPECT_EQ(main->state.Calibrating, 0);
    EXPECT_EQ(trayColor(), clBlue) << "the first show's blue overrides the run's green";
    // The pen was down for every target, yet nothing reached the pointer
    // before the calibration was complete.
    EXPECT_EQ(callsBeforeCalibrated, 0u);
    waitFor([&] { return script.empty(); });
    queue(emulated::reportAt(psUp, 0, -300));
    waitForLastReport();
    waitFor([&] { return main->state.LastPenState == psUp; });

    // Now calibrated: a pen-down report at board corner 0 lands on target 0.
    pointer.calls.clear();
    queue(emulated::reportAt(psLeft, kBoard[0].first, kBoard[0].second));
    waitFor([&] { return script.empty() && pointer.calls.size() >= 2; });
    const TPoint target = main->state.TargetPoints[0];
    EXPECT_EQ(pointer.calls[1], "down left " + std::to_string(target.x) + " " + std::to_string(target.y));
}

TEST_F(MainWindow, RunFromTheMenuTurnsGreen)
{
    plugTracker();
    setTexts({"100", "-150", "550", "-160", "110", "-500", "540", "-510"});
    runFirstShow();
    onceTheRunShowsATarget([this] {
        const std::array<std::pair<double, double>, 4> moved = {{{120, -150}, {570, -160}, {130, -500}, {560, -510}}};
        for (const auto& [x, y] : moved) queueSteadyTarget(x, y);
    });
    main->Kalibre1->trigger();
    EXPECT_EQ(trayColor(), clGreen);
    EXPECT_EQ(main->Edits[0]->text().toInt(), std::stoi(rawTexts(emulated::reportAt(psLeft, 120, -150)).first));
    EXPECT_EQ(main->state.Calibrating, 0);
}

TEST_F(MainWindow, CalibrationIsSavedAtOnceAndFittedAtTheNextStart)
{
    plugTracker();
    setTexts({"0", "0", "0", "0", "0", "0", "0", "0"});
    onceTheRunShowsATarget([this] {
        for (const auto& [x, y] : kBoard) queueSteadyTarget(x, y);
    });
    runFirstShow();
    waitFor([&] { return script.empty(); });

    // In the store before any regular end: a power cut now loses nothing.
    TAppRegistryStorage reader(store);
    reader.setRoot(TCustomAppStorage::kNoRoot);
    EXPECT_EQ(reader.ReadText("Software\\oruDriver\\Edit1_Text", "missing"), expectedTexts(kBoard)[0]);
    EXPECT_EQ(reader.ReadText("Software\\oruDriver\\Edit8_Text", "missing"), expectedTexts(kBoard)[7]);

    // "Çıkış", then a new start with the same store (and no tracker: the
    // square keeps the colour the first show leaves).
    main->k1Click();
    hid.unplug(kTracker);
    close();
    open();
    runFirstShow();
    EXPECT_EQ(main->calibrationTexts(), expectedTexts(kBoard));
    EXPECT_EQ(main->state.Calibrated, 1);
    EXPECT_EQ(trayColor(), clRed) << "no calibration ran, so no blue";
}

TEST_F(MainWindow, EscapeBeforeTheRunClosesAtOnceAndTheRunEndsLater)
{
    setTexts({"100", "-150", "550", "-160", "110", "-500", "540", "-510"});
    runFirstShow();
    QTimer::singleShot(50, [this] { queueEscape(); });
    QElapsedTimer clock;
    clock.start();
    main->Kalibre1Click();
    EXPECT_LT(clock.elapsed(), 450) << "closed before the run started";
    EXPECT_EQ(main->state.Calibrating, 1) << "until the armed start runs on the hidden window";
    waitFor([&] { return main->state.Calibrating == 0; });
    EXPECT_EQ(main->state.Calibrated, 1);
    EXPECT_EQ(main->Edits[0]->text(), "100");
}

TEST_F(MainWindow, DegenerateSamplesShowTheErrorAndKeepThePreviousCalibration)
{
    plugTracker();
    const CalibrationTexts stored{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
    setTexts(stored);
    runFirstShow();
    waitFor([&] { return main->state.PenDevice != nullptr; });  // its green comes before the red below
    main->setTrayColors(clRed, clWhite);
    const Mat4 before = main->state.Warper.WarpMatrix;
    onceTheRunShowsATarget([this] {
        for (int i = 0; i < 4; ++i) queueSteadyTarget(300, -300);
    });
    main->Kalibre1Click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Floating point division by zero.");
    EXPECT_EQ(main->calibrationTexts(), stored);
    EXPECT_EQ(trayColor(), clRed);
    EXPECT_EQ(main->state.Calibrated, 1);
    EXPECT_EQ(main->state.Warper.WarpMatrix, before);
    EXPECT_FALSE(calibration->isVisible());
}

TEST_F(MainWindow, ExitReleasesAButtonThePenStillHolds)
{
    plugTracker();
    setTexts({"100", "-150", "550", "-160", "110", "-500", "540", "-510"});
    runFirstShow();
    queue(emulated::reportAt(psLeft, 300, -300));
    waitFor([&] { return main->state.LastPenState == psLeft; });
    pointer.calls.clear();
    main->shutdown();
    ASSERT_EQ(pointer.calls.size(), 1u);
    EXPECT_EQ(pointer.calls[0].rfind("up left ", 0), 0u);
    EXPECT_EQ(main->state.LastPenState, psUp);
}

TEST_F(MainWindow, WatchdogReleasesTheButtonWhenReportsStop)
{
    plugTracker();
    setTexts({"100", "-150", "550", "-160", "110", "-500", "540", "-510"});
    runFirstShow();
    QElapsedTimer sinceQueued;  // started before the report is handled
    sinceQueued.start();
    queue(emulated::reportAt(psRight, 300, -300));
    waitFor([&] { return main->state.LastPenState == psRight; });
    waitFor([&] { return main->state.LastPenState == psUp; }, 1000);
    EXPECT_GE(sinceQueued.elapsed(), 250) << "released no earlier than 250 ms after the report";
    EXPECT_EQ(pointer.calls.back().rfind("up right ", 0), 0u);
    EXPECT_TRUE(main->gerisayim.isActive()) << "the watchdog's timer ticks on";
}

TEST_F(MainWindow, WatchdogLetsGoOnlyOfAPenThatWentQuiet)
{
    // The pen reports on while this process is held up past the watchdog's
    // interval: its next report is read and waits in the hand-off, or it
    // waits unread in the device (the reader held up too), and the timer
    // comes first. Neither lets go of the button; a report that stays unread
    // for another interval does.
    const struct {
        const char* name;
        bool readerHeld;
        std::chrono::milliseconds heldFor;
        bool letsGo;
    } rows[] = {
        {"report read, waiting for this thread", false, kReleaseWatchdogInterval + 50ms, false},
        {"report unread in the device", true, kReleaseWatchdogInterval + 50ms, false},
        {"report unread for two intervals", true, 2 * kReleaseWatchdogInterval + 50ms, true},
    };
    plugTracker();
    setTexts({"100", "-150", "550", "-160", "110", "-500", "540", "-510"});
    runFirstShow();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        queue(emulated::reportAt(psLeft, 300, -300));
        waitFor([&] { return main->state.LastPenState == psLeft && script.empty(); });
        hid.holdReaders(row.readerHeld);
        const auto report = emulated::reportAt(psLeft, 310, -300);
        hid.pushReport(kTracker, std::vector<std::uint8_t>(report.begin(), report.end()));
        if (!row.readerHeld) {
            for (int i = 0; i < 2000 && !main->HidDeviceController->handoff().hasPending(); ++i)
                std::this_thread::sleep_for(1ms);
            ASSERT_TRUE(main->HidDeviceController->handoff().hasPending());
        }
        std::this_thread::sleep_for(row.heldFor);
        pointer.calls.clear();
        main->gerisayimTimer();
        const bool letGo = std::any_of(pointer.calls.begin(), pointer.calls.end(),
                                       [](const std::string& call) { return call.rfind("up left ", 0) == 0; });
        EXPECT_EQ(letGo, row.letsGo);
        hid.holdReaders(false);
        waitFor([&] { return main->state.LastPenState == psLeft; });
    }
}

TEST_F(MainWindow, AboutBoxShowsTheProduct)
{
    EXPECT_EQ(about->windowTitle(), "oruDriver");
    EXPECT_EQ(about->Label1->text(), "Oru Akıllı Tahta Sürücüsü");
    EXPECT_EQ(about->Button1->text(), "Kapat");
    setTexts({"100", "-150", "550", "-160", "110", "-500", "540", "-510"});
    runFirstShow();
    QTimer::singleShot(50, [this] {
        // Every text is shown whole inside the fixed-size box.
        for (const QLabel* label : {about->Label1, about->Label2}) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width())
                << label->text().toStdString();
            EXPECT_TRUE(about->rect().contains(label->geometry())) << label->text().toStdString();
        }
        EXPECT_EQ(about->size(), QSize(229, 144));
        about->Button1->click();
    });
    main->Hakknda1Click();
    EXPECT_FALSE(about->isVisible());
}

TEST_F(MainWindow, PenTrackerIsClaimedAndItsReportsDriveThePointer)
{
    setTexts({"100", "-150", "550", "-160", "110", "-500", "540", "-510"});
    hid.plug("0003:046D:C31C.0001", 0x046D, 0xC31C);  // a keyboard
    const auto tracker = hid.plug("0003:0020:0002.0002", 0x0020, 0x0002);
    runFirstShow();
    waitFor([&] { return main->state.PenDevice != nullptr; });
    EXPECT_EQ(trayColor(), clGreen);

    const auto report = emulated::reportAt(psLeft, kBoard[0].first, kBoard[0].second);
    hid.pushReport("0003:0020:0002.0002", std::vector<std::uint8_t>(report.begin(), report.end()));
    waitFor([&] { return main->state.LastPenState == psLeft; });
    const TPoint target = targetPoints(calibration->screenWidthPx(), calibration->screenHeightPx(), kInsetRatio)[0];
    ASSERT_GE(pointer.calls.size(), 2u);
    EXPECT_EQ(pointer.calls[1], "down left " + std::to_string(target.x) + " " + std::to_string(target.y));

    // Unplugged while the tip is down: red, and the watchdog lets go of the button.
    hid.unplug("0003:0020:0002.0002");
    main->HidDeviceController->DeviceChange();
    EXPECT_EQ(main->state.PenDevice, nullptr);
    EXPECT_EQ(trayColor(), clRed);
    waitFor([&] { return main->state.LastPenState == psUp; }, 1000);
    EXPECT_EQ(pointer.calls.back().rfind("up left ", 0), 0u);
}

TEST_F(MainWindow, NoPenTrackerAmongTheDevicesTurnsRed)
{
    setTexts({"100", "-150", "550", "-160", "110", "-500", "540", "-510"});
    hid.plug("0003:046D:C31C.0001", 0x046D, 0xC31C);
    runFirstShow();
    main->setTrayColors(clBlue, clWhite);
    main->HidDeviceController->DeviceChange();  // nothing changed: no handler, colour stays
    EXPECT_EQ(trayColor(), clBlue);
    hid.plug("0003:046D:C077.0003", 0x046D, 0xC077);
    main->HidDeviceController->DeviceChange();
    EXPECT_EQ(trayColor(), clRed);
}

TEST(CalibrationWindow, CrosshairCentreIsOnTheTargetPoint)
{
    TMainFormState state;
    struct : CalibrationHost {
        void storeCalibrationTexts(const CalibrationTexts&) override {}
        void setTrayColors(TColor, TColor) override {}
        void calibrationCompleted() override {}
    } host;
    TcalibrationForm form(state, host);
    form.showTargets({192, 108}, true, false);
    // The two-pixel lines cover image rows/columns 35 and 36.
    EXPECT_EQ(form.target1->geometry().topLeft() + QPoint(36, 36), QPoint(192, 108));
    const QImage image = TcalibrationForm::crosshair(Qt::red).toImage();
    EXPECT_EQ(image.pixelColor(36, 0), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(35, 71), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(0, 36), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(10, 10).alpha(), 0) << "background transparent";
    EXPECT_TRUE(form.target1->isVisible() || !form.isVisible());
    EXPECT_TRUE(form.target2->isHidden());
}

// A window manager may ignore the full-screen request and place the window
// where it likes (below a panel, maximised under a top bar, smaller). The run
// starts only when every target's screen point lies in the window, with each
// crosshair drawn where its screen point is; otherwise the window closes, the
// user is told, and the stored calibration stays. The offscreen screen is
// 800x800: targets at (80,80), (720,80), (80,720), (720,720).
TEST(CalibrationWindow, RunsOnlyOnAWindowOverEveryTargetAndDrawsEachWhereItsScreenPointIs)
{
    ASSERT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 800, 800));
    struct Row {
        const char* placement;
        std::optional<QRect> placed;  // none: the full-screen request is honoured
        bool runs;
        QPoint firstCrossingInWindow;
    };
    const Row rows[] = {
        {"over the screen as asked", std::nullopt, true, {80, 80}},
        {"below a 27 px panel, bottom off the screen", QRect(0, 27, 800, 800), true, {80, 53}},
        {"maximised under a 32 px top bar", QRect(0, 32, 800, 768), true, {80, 48}},
        {"first target on the window's left edge", QRect(80, 0, 720, 800), true, {0, 80}},
        {"one pixel further: first target outside", QRect(81, 0, 719, 800), false, {}},
        {"shrunk to a quarter", QRect(0, 0, 400, 400), false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.placement);
        TMainFormState state;
        state.InsetRatio = kInsetRatio;
        state.Calibrated = 1;  // a stored calibration in use
        struct : CalibrationHost {
            int stored = 0;
            void storeCalibrationTexts(const CalibrationTexts&) override { ++stored; }
            void setTrayColors(TColor, TColor) override {}
            void calibrationCompleted() override {}
        } host;
        std::vector<std::string> errors;
        setHandlerErrorReporter([&](const std::string& text) { errors.push_back(text); });
        TcalibrationForm form(state, host);

        // The window manager's placement, before the run's 500 ms are up.
        QTimer::singleShot(0, [&] {
            if (!row.placed) return;
            form.setWindowState(Qt::WindowNoState);
            form.setGeometry(*row.placed);
        });
        bool started = false;
        QPoint crossing;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (!form.running() || !form.target1->isVisible()) return;
            probe.stop();
            started = true;
            crossing = form.target1->geometry().topLeft() + QPoint(36, 36);
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&form, &escape);
        });
        probe.start();
        form.show();
        waitFor([&] { return form.isHidden() && !form.running(); }, 10000);
        setHandlerErrorReporter(nullptr);

        EXPECT_TRUE(form.isHidden());
        EXPECT_EQ(started, row.runs);
        if (row.runs) {
            EXPECT_EQ(crossing, row.firstCrossingInWindow);
            EXPECT_EQ(form.mapToGlobal(crossing), QPoint(state.TargetPoints[0].x, state.TargetPoints[0].y));
            EXPECT_TRUE(errors.empty());
        } else {
            EXPECT_EQ(errors, std::vector<std::string>{handlerErrorText(ECalibrationWindowMisplaced())});
        }
        EXPECT_EQ(state.CalCancelled, 1);
        EXPECT_EQ(state.Calibrating, 0);
        EXPECT_EQ(state.Calibrated, 1) << "the stored calibration stays";
        EXPECT_EQ(host.stored, 0);
    }
}

} // namespace
} // namespace oru
