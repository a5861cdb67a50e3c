// The calibration window on a real Wayland compositor (weston's headless
// backend, started by program_wayland_test.sh; GNOME Shell's and KWin's by
// tests/desktops/wayland_desktop_test.sh): the compositor shows it full-screen
// over the output, the first target where the run puts it, and ESC cancels.
// The compositor's own picture of the output is kept as a test artifact.

#include "app/MainFormState.h"
#include "qtui/CalibrationForm.h"

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

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace oru {
namespace {

class NoHost final : public CalibrationHost {
public:
    void storeCalibrationTexts(const CalibrationTexts&) override {}
    void setTrayColors(TColor, TColor) override {}
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

// The compositor's picture of its output: weston-screenshooter (weston must
// run with --debug), or the shell command ORU_SCREENSHOT_COMMAND, which
// writes a PNG into its working folder ("-": none to be had). A null image
// when it can't be had.
QImage screenshot()
{
    QTemporaryDir dir;
    QProcess shooter;
    shooter.setWorkingDirectory(dir.path());
    const QString command = qEnvironmentVariable("ORU_SCREENSHOT_COMMAND");
    if (command.isEmpty()) shooter.start(QStringLiteral("weston-screenshooter"), {});
    else shooter.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    if (!shooter.waitForFinished(5000) || shooter.exitCode() != 0) return {};
    const auto files = QDir(dir.path()).entryList({QStringLiteral("*.png")});
    return files.isEmpty() ? QImage() : QImage(dir.filePath(files.first()));
}

bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 24;
}

// Where a pixel of the (scaled) output lies in weston's picture, which shows
// the framebuffer as the hardware scans it: for a rotated output, turned
// against the desktop. ORU_OUTPUT_TRANSFORM names weston's --transform.
QPoint inShot(QPoint px, const QImage& shot)
{
    const QByteArray transform = qgetenv("ORU_OUTPUT_TRANSFORM");
    if (transform == "rotate-90") return {px.y(), shot.height() - 1 - px.x()};
    return px;
}

// What the window and the compositor show once the run has put up target 0.
void checkOnScreen(TcalibrationForm& form, const TMainFormState& state, bool fullScreen, bool firstTarget)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect output = screen->geometry();  // logical pixels
    const qreal ratio = screen->devicePixelRatio();
    const QSize outputPx(qRound(output.width() * ratio), qRound(output.height() * ratio));
    EXPECT_TRUE(fullScreen) << "not full-screen: " << form.width() << "x" << form.height() << " on an output of "
                            << output.width() << "x" << output.height();
    ASSERT_TRUE(firstTarget) << "the run did not show target 0";
    EXPECT_EQ(form.windowHandle()->screen(), screen);

    // Target 0 in the pixels the pen is mapped in, 10 % in from the top left
    // of the output, and the crosshair's crossing on it in the window.
    const QPoint targetPx(state.TargetPoints[0].x, state.TargetPoints[0].y);
    EXPECT_EQ(targetPx, QPoint(qRound(outputPx.width() * 0.1), qRound(outputPx.height() * 0.1)));
    EXPECT_EQ(form.target1->geometry().center() + QPoint(1, 1),
              QPoint(qRound(targetPx.x() / ratio), qRound(targetPx.y() / ratio)));

    // A compositor whose picture can't be had here (KWin's screenshots need a
    // file descriptor passed over D-Bus): its configure alone, checked above.
    if (qEnvironmentVariable("ORU_SCREENSHOT_COMMAND") == QLatin1String("-")) return;

    // The compositor's picture: the window's background in the output's four
    // corners (nothing of weston's panel or background left), the crosshair
    // where the target is. Taken until a frame with the crosshair is in.
    const QColor background = form.grab().toImage().pixelColor(form.width() - 2, form.height() - 2);
    const QPoint corners[] = {{2, 2}, {outputPx.width() - 3, 2}, {2, outputPx.height() - 3},
                              {outputPx.width() - 3, outputPx.height() - 3}};
    // Scaled crosshair lines are 2 px times the ratio wide, centred on the target.
    const QPoint onLine = targetPx + QPoint(0, qRound(30 * ratio));
    const QPoint insideCircle = targetPx + QPoint(0, qRound(12 * ratio));
    QImage shot;
    const bool seen = waitFor(
        [&] {
            shot = screenshot();
            return !shot.isNull() && qMax(shot.width(), shot.height()) == qMax(outputPx.width(), outputPx.height()) &&
                   shot.pixelColor(inShot(insideCircle, shot)) != shot.pixelColor(inShot(corners[3], shot));
        },
        10000);
    ASSERT_FALSE(shot.isNull()) << "weston-screenshooter gave no picture (weston needs --debug)";
    if (const char* artifacts = std::getenv("ORU_ARTIFACTS")) {
        QDir().mkpath(QString::fromLocal8Bit(artifacts));
        const QString name = qEnvironmentVariable("ORU_SHOT_NAME", QStringLiteral("wayland-calibration"));
        shot.save(QDir(QString::fromLocal8Bit(artifacts)).filePath(name + QStringLiteral(".png")));
    }
    ASSERT_TRUE(seen) << "no frame with the crosshair, picture " << shot.width() << "x" << shot.height();
    for (const QPoint corner : corners) {
        const QColor pixel = shot.pixelColor(inShot(corner, shot));
        EXPECT_TRUE(near(pixel, background)) << "pixel " << corner.x() << "," << corner.y() << " is "
                                             << qPrintable(pixel.name()) << ", the window's background "
                                             << qPrintable(background.name());
    }
    // The vertical line of the crosshair below its circle: blue, since the
    // blue target2 lies above the red target1.
    const QColor line = shot.pixelColor(inShot(onLine, shot));
    EXPECT_TRUE(near(line, QColor(0, 6, 255))) << qPrintable(line.name());
}

TEST(CalibrationWindowOnWayland, CoversTheOutputShowsTheFirstTargetAndEscapeCancels)
{
    ASSERT_TRUE(QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        << "run under program_wayland_test.sh (platform " << qPrintable(QGuiApplication::platformName()) << ")";
    const QSize output = QGuiApplication::primaryScreen()->geometry().size();
    TMainFormState state;
    state.InsetRatio = kInsetRatio;  // as the main window's creation sets it
    NoHost host;
    TcalibrationForm form(state, host);

    // The run starts 500 ms after the show, inside a timer handler whose
    // nested loop waits for the pen: everything from here on happens in a
    // probe that ticks inside that loop.
    QElapsedTimer clock;
    clock.start();
    bool probed = false;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        QWindow* window = form.windowHandle();
        const bool fullScreen = window && window->isExposed() && (window->windowStates() & Qt::WindowFullScreen) &&
                                form.size() == output;
        const bool firstTarget = form.running() && form.target1->isVisible();
        if (!(fullScreen && firstTarget) && clock.elapsed() < 10000) return;
        probe.stop();
        probed = true;
        checkOnScreen(form, state, fullScreen, firstTarget);
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
    const int result = RUN_ALL_TESTS();
    // Past Qt's Wayland teardown, which can deadlock in Qt 6.4 (the driver
    // ends the same way on Wayland).
    std::fflush(nullptr);
    std::_Exit(result);
}
