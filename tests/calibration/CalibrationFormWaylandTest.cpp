// The calibration window on a real Wayland compositor (weston's headless
// backend, started by program_wayland_test.sh): the compositor shows it full-screen
// over the output, the first target where the run puts it, and ESC cancels.
// The compositor's own picture of the output is kept as a test artifact.

#include "app/MainFormState.h"
#include "calibration/CalibrationForm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace oru {
namespace {

class NoHost final : public CalibrationHost {
public:
    void storeCalibrationTexts(const CalibrationTexts&) override {}
    void setTrayColors(std::uint32_t, std::uint32_t) override {}
    void calibrationCompleted() override {}
};

// Runs the event loop until the condition holds or the time is up.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// The compositor's picture of its output (weston-screenshooter; weston must
// run with --debug). A null image when it can't be had.
QImage screenshot()
{
    QTemporaryDir dir;
    QProcess shooter;
    shooter.setWorkingDirectory(dir.path());
    shooter.start(QStringLiteral("weston-screenshooter"), {});
    if (!shooter.waitForFinished(5000) || shooter.exitCode() != 0) return {};
    const auto files = QDir(dir.path()).entryList({QStringLiteral("*.png")});
    return files.isEmpty() ? QImage() : QImage(dir.filePath(files.first()));
}

bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 24;
}

// What the window and the compositor show once the run has put up target 0
// (10 % in from the top-left corner).
void checkOnScreen(TcalibrationForm& form, const QRect& output, const QPoint& target0, bool fullScreen,
                   bool firstTarget)
{
    EXPECT_TRUE(fullScreen) << "not full-screen: " << form.width() << "x" << form.height() << " on an output of "
                            << output.width() << "x" << output.height();
    ASSERT_TRUE(firstTarget) << "the run did not show target 0";
    EXPECT_EQ(form.windowHandle()->screen(), QGuiApplication::primaryScreen());
    EXPECT_EQ(form.target1->geometry().center() + QPoint(1, 1), target0);

    // The compositor's picture: the window's background in the output's far
    // corners (nothing of weston's panel or background left), the crosshair
    // where the target is. Taken until a frame with the crosshair is in.
    // The window's own picture of its far corner: what its background is.
    const QColor background = form.grab().toImage().pixelColor(form.width() - 2, form.height() - 2);
    QImage shot;
    const bool seen = waitFor(
        [&] {
            shot = screenshot();
            return !shot.isNull() && shot.size() == output.size() &&
                   shot.pixelColor(target0 + QPoint(0, 12)) != shot.pixelColor(output.width() - 2, 2);
        },
        10000);
    ASSERT_FALSE(shot.isNull()) << "weston-screenshooter gave no picture (weston needs --debug)";
    if (const char* artifacts = std::getenv("ORU_ARTIFACTS")) {
        QDir().mkpath(QString::fromLocal8Bit(artifacts));
        shot.save(QDir(QString::fromLocal8Bit(artifacts)).filePath(QStringLiteral("wayland-calibration.png")));
    }
    EXPECT_TRUE(seen) << "no frame with the crosshair";
    for (const QPoint corner : {QPoint(output.width() - 2, 2), QPoint(2, output.height() - 2),
                                QPoint(output.width() - 2, output.height() - 2)}) {
        EXPECT_TRUE(near(shot.pixelColor(corner), background))
            << "pixel " << corner.x() << "," << corner.y() << " is " << qPrintable(shot.pixelColor(corner).name())
            << ", the window's background " << qPrintable(background.name());
    }
    // The vertical line of the crosshair below its circle: blue, since the
    // blue target2 lies above the red target1.
    const QColor line = shot.pixelColor(target0 + QPoint(0, 30));
    EXPECT_TRUE(near(line, QColor(0, 6, 255))) << qPrintable(line.name());
}

TEST(CalibrationWindowOnWayland, CoversTheOutputShowsTheFirstTargetAndEscapeCancels)
{
    ASSERT_TRUE(QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        << "run under program_wayland_test.sh (platform " << qPrintable(QGuiApplication::platformName()) << ")";
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect output = screen->geometry();
    TMainFormState state;
    state.InsetRatio = kInsetRatio;  // as the main window's creation sets it
    NoHost host;
    TcalibrationForm form(state, host);

    // The run starts 500 ms after the show, inside a timer handler whose
    // nested loop waits for the pen: everything from here on happens in a
    // probe that ticks inside that loop.
    const QPoint target0(qRound(output.width() * 0.1), qRound(output.height() * 0.1));
    QElapsedTimer clock;
    clock.start();
    bool probed = false;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        QWindow* window = form.windowHandle();
        const bool fullScreen = window && window->isExposed() && (window->windowStates() & Qt::WindowFullScreen) &&
                                form.size() == output.size();
        const bool firstTarget = form.running() && form.target1->isVisible();
        if (!(fullScreen && firstTarget) && clock.elapsed() < 10000) return;
        probe.stop();
        probed = true;
        checkOnScreen(form, output, target0, fullScreen, firstTarget);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&form, &escape);
    });
    probe.start();
    form.show();

    ASSERT_TRUE(waitFor([&] { return probed && !form.isVisible() && !form.running(); }, 30000));
    EXPECT_EQ(state.CalCancelled, 1);
    EXPECT_EQ(state.Calibrated, 0);
}

} // namespace
} // namespace oru

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
