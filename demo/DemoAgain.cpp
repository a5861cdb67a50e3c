// Phase "again": the second start with the stored calibration; "Kalibre"
// again, unplug and re-plug while drawing, the end by SIGTERM while drawing.

#include "DemoRunParts.h"

#include <csignal>
#include <numbers>
#include <optional>

namespace oru::demo {

using namespace std::chrono_literals;

void DemoRun::runAgain()
{
    note("second start with the stored calibration on a " + std::to_string(screen_.width()) + "x" +
         std::to_string(screen_.height()) + " X screen");
    pen_->withTrackerQuiet([&] { tracker_.plug(); });
    startDriver();

    bool calibrationSeen = false;
    std::optional<double> dockedAt, greenAt;
    waitFor(
        [&] {
            if (screen_.viewableWindow("CalibrationForm")) calibrationSeen = true;
            const TrayLook tray = trayLook();
            if (tray.colour != TrayColour::Absent && !dockedAt) dockedAt = secondsSinceStart();
            if (tray.colour == TrayColour::Green && !greenAt) greenAt = secondsSinceStart();
            // Watch a second longer for a calibration window that comes late.
            return greenAt && secondsSinceStart() > *greenAt + 1.0;
        },
        15s);
    check("no calibration window with a stored calibration", !calibrationSeen);
    check("tray square docked", dockedAt.has_value());
    check("tray square green: pen tracker claimed", greenAt.has_value());
    if (dockedAt) note("start-up: tray square docked after " + fixed(*dockedAt, 2) + " s");
    if (greenAt) note("start-up: tray square green after " + fixed(*greenAt, 2) + " s");
    shotTray("tray-green");
    const bool opened = waitForNodeOpen(10s);
    check("driver opens the pen tracker", opened);
    if (!opened) return;

    openCanvas();
    drawStrokes();
    if (options_.recalibrate) {
        recalibrateThroughMenu();
        drawStrokes("strokes-after-recalibration");
    }
    if (options_.replug) drawThroughReplug();
    if (options_.endBySignal) {
        terminateWhileDrawing();
    } else {
        quitThroughMenu();
    }
}

void DemoRun::recalibrateThroughMenu()
{
    pen_->rest(kPenUp, 10);
    std::string detail;
    // The calibration window comes up over the whiteboard.
    if (canvas_) canvas_->hide();
    const bool chosen = chooseFromTrayMenu(MenuEntry::Calibrate, "tray-menu-kalibre", detail);
    std::optional<XScreen::WindowInfo> window;
    const bool shown =
        chosen && waitFor([&] { return (window = screen_.viewableWindow("CalibrationForm")).has_value(); }, 10s);
    if (chosen && !shown) detail = "no calibration window 10 s after the click";
    check("\"Kalibre\" in the tray menu opens the calibration window", shown, detail);
    if (!shown) return;
    checkCoversTheScreen(*window);
    calibrate(false);
    if (canvas_) canvas_->show();
}

void DemoRun::drawThroughReplug()
{
    const double w = screen_.width(), h = screen_.height();
    std::vector<PointD> wave;
    for (double x = std::round(w * 0.1); x <= std::round(w * 0.9); x += 2)
        wave.push_back({x, std::round(h * 0.85) + h * 0.04 * std::sin(2 * std::numbers::pi * x / (w * 0.2))});
    const std::size_t split = wave.size() * 45 / 100;

    pen_->startMeasuring();
    pen_->moveTo(kPenUp, wave.front(), 4);
    pen_->rest(kPenUp, 15);
    pen_->rest(kPenTip, 5);
    pen_->follow(kPenTip, std::vector<PointD>(wave.begin(), wave.begin() + static_cast<long>(split)));

    // Unplugged in the middle of a stroke: the reports stop, the pen stays down.
    const auto unplugged = Clock::now();
    pen_->withTrackerQuiet([&] { tracker_.unplug(); });
    const bool red = waitForTray(TrayColour::Red, 5s);
    const double redAfter = seconds(Clock::now() - unplugged);
    // The release watchdog lets go of the button once the reports stop.
    waitFor([&] { return leftButtonLetGo(); }, 5s);
    const PointerState whileOut = screen_.pointer();
    const auto countsOut = canvas_->counts();
    shotTray("tray-red");
    check("unplugged: tray square red", red, "after " + fixed(redAfter, 2) + " s");
    check("unplugged: no button left held (release watchdog)",
          !whileOut.anyButtonHeld() && countsOut.leftPresses == countsOut.leftReleases);

    const auto plugged = Clock::now();
    pen_->withTrackerQuiet([&] { tracker_.plug(); });
    const bool green = waitForTray(TrayColour::Green, 10s);
    const double greenAfter = seconds(Clock::now() - plugged);
    const bool opened = waitForNodeOpen(10s);
    check("re-plugged: tray square green", green, "after " + fixed(greenAfter, 2) + " s");
    check("re-plugged: driver opens the new node", opened, tracker_.nodePath());
    note("unplug -> tray red after " + fixed(redAfter, 2) + " s; re-plug -> green after " + fixed(greenAfter, 2) +
         " s (node " + tracker_.nodePath() + ")");
    shotTray("tray-green-again");

    const int inkBefore = canvas_->inkSegments();
    const int pressesBefore = canvas_->counts().leftPresses;
    pen_->follow(kPenTip, std::vector<PointD>(wave.begin() + static_cast<long>(split), wave.end()));
    pen_->rest(kPenTip, 15);
    pen_->rest(kPenUp, 15);
    pen_->stopMeasuring();
    const auto resumed = [&] {
        const auto& counts = canvas_->counts();
        return counts.leftPresses == pressesBefore + 1 && canvas_->inkSegments() > inkBefore + 50 &&
               counts.leftReleases == counts.leftPresses && !screen_.pointer().anyButtonHeld();
    };
    waitFor(resumed, 5s);
    const auto& counts = canvas_->counts();
    check("drawing resumes after the re-plug",
          counts.leftPresses == pressesBefore + 1 && canvas_->inkSegments() > inkBefore + 50 &&
              counts.leftReleases == counts.leftPresses,
          std::to_string(counts.leftPresses - pressesBefore) + " presses (1 expected), " +
              std::to_string(counts.leftReleases) + " releases of " + std::to_string(counts.leftPresses) +
              ", " + std::to_string(canvas_->inkSegments() - inkBefore) + " ink segments (over 50 expected)");
    check("pointer follows the pen through the re-plug", pen_->largestPathDistancePx() <= options_.pathLimitPx,
          fixed(pen_->largestPathDistancePx()) + " px");
    check("no mouse button held after the stroke", !screen_.pointer().anyButtonHeld());
    shot("replug-stroke");
}

void DemoRun::terminateWhileDrawing()
{
    // The session ends (log-off, shutdown) while the pen is on the board.
    const PointD p{std::round(screen_.width() * 0.5), std::round(screen_.height() * 0.6)};
    pen_->moveTo(kPenUp, p, 4);
    pen_->rest(kPenUp, 10);
    pen_->rest(kPenTip, 20);
    // The pen stays down, reporting, until the press shows.
    const auto pressDeadline = Clock::now() + 5s;
    bool held = false;
    while (!(held = (screen_.pointer().buttonMask & Button1Mask) != 0) && Clock::now() < pressDeadline)
        pen_->report(kPenTip, p);
    check("pen down holds the left button", held);
    note("resident memory of the running driver: " + std::to_string(driver_->residentKiB()) + " KiB");
    ::kill(driver_->pid(), SIGTERM);
    // Reports go on, so the release watchdog never fires: only the driver's
    // orderly end can let go of the button.
    const auto deadline = Clock::now() + 10s;
    int step = 0;
    while (driver_->running() && Clock::now() < deadline)
        pen_->report(kPenTip, {p.x + (++step % 20), p.y});
    const bool ended = !driver_->running();
    // The driver's last requests and the end of its connection reach the X
    // server in order, but after this program's own: look until the release
    // is there.
    poll([&] { return leftButtonLetGo(); }, 5s);
    const PointerState after = screen_.pointer();
    const auto& counts = canvas_->counts();
    check("SIGTERM while drawing ends the driver with status 0", ended && driver_->exitStatus() == 0,
          ended ? "exit status " + std::to_string(*driver_->exitStatus()) : "still running after 10 s");
    check("the held button is released at the end", held && !after.anyButtonHeld() &&
                                                          counts.leftReleases == counts.leftPresses,
          std::to_string(counts.leftPresses) + " presses, " + std::to_string(counts.leftReleases) + " releases");
    if (!ended) driver_->stop();
}

} // namespace oru::demo
