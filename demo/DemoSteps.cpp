// Steps that more than one phase takes: the calibration, the strokes, the
// tray menu as a user works it.

#include "DemoRunParts.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace oru::demo {

using namespace std::chrono_literals;

void DemoRun::calibrate(bool firstStart)
{
    const auto targets = targetPoints(screen_.width(), screen_.height());
    std::string counts;
    double worstCentreOffPx = 0;
    int accepted = 0;
    for (int i = 0; i < 4; ++i) {
        const PointD target = targets[i];
        const bool shown = hoverUntilTargetShows(*pen_, screen_, target);
        if (!shown) {
            shot("calibration-target-" + std::to_string(i) + "-missing");
            check("calibration target " + std::to_string(i) + " shows at (" + fixed(target.x, 0) + "," +
                      fixed(target.y, 0) + ")",
                  false);
            return;
        }
        if (firstStart) shot("calibration-target-" + std::to_string(i));
        // The crosshair's lines are two pixels wide (centre - 1 and centre):
        // pixels of its colour balance around target - 0.5.
        const ColourSpot spot = findCrosshair(crosshairBlock(screen_, target));
        worstCentreOffPx = std::max({worstCentreOffPx, std::abs(spot.meanX - (target.x - 0.5)),
                                     std::abs(spot.meanY - (target.y - 0.5))});

        const TargetPress press = pressUntilAccepted(*pen_, screen_, target, options_.calibrationShakeUnits);
        if (!press.accepted) {
            check("calibration target " + std::to_string(i) + " accepted", false,
                  std::to_string(press.downReports) + " pen-down reports sent");
            return;
        }
        ++accepted;
        counts += (counts.empty() ? "" : ", ") + std::to_string(press.downReports);
        if (options_.replug && i == 1) {
            // Unplugged and plugged in again between two targets: the
            // calibration goes on with the new device.
            pen_->withTrackerQuiet([&] { tracker_.unplug(); });
            // Plugged in again once the driver has let go of the old node.
            waitFor([&] { return !tracker_.openedBy(driver_->pid()); }, 5s);
            pen_->withTrackerQuiet([&] { tracker_.plug(); });
            const bool opened = waitForNodeOpen(10s);
            check("re-plugged during the calibration: driver opens the new node", opened, tracker_.nodePath());
            if (!opened) return;
        }
    }
    const bool closed = waitFor([&] { return !screen_.viewableWindow("CalibrationForm"); }, 5s);
    const std::string run = firstStart ? "calibration" : "re-calibration";
    check(run + " completed: four targets accepted, window closed", accepted == 4 && closed);
    check("crosshair centred on each target (within 1 px)", worstCentreOffPx <= 1.0,
          "worst " + fixed(worstCentreOffPx, 2) + " px");
    // Blue after the calibration of a first start, green after any other.
    const bool coloured = closed && waitForTray(firstStart ? TrayColour::Blue : TrayColour::Green, 5s);
    check(std::string("tray square ") + (firstStart ? "blue" : "green") + " after the " + run, coloured);
    note(run + ": targets accepted after " + counts + " pen-down reports (about 20 ms between looks at the screen)");
    if (firstStart) {
        shotTray("tray-blue");
        shot("after-calibration");
    }
}

void DemoRun::drawStrokes(const std::string& shotName)
{
    const double w = screen_.width(), h = screen_.height();
    // A square, resting at each corner.
    const double side = std::round(h * 0.35);
    const PointD a{std::round(w * 0.15), std::round(h * 0.25)};

    // Settle over the square's first corner, not measured. Not where the pen
    // happens to be: on the screen's edge (where a session starts) a
    // calibration's error of a pixel maps it to a negative coordinate, which
    // the driver rejects, leaving the pointer wherever it was.
    pen_->moveTo(kPenUp, a, 4);
    pen_->rest(kPenUp, 10);
    pen_->startMeasuring();
    // Clicks are counted from here. The pointer at the pen says the driver has
    // handled every earlier report, also pen-down reports of a calibration's
    // last target that came after it was accepted (on a busy machine the pen
    // presses a look at the screen longer), which click where the target
    // was; the round trip brings the canvas every event of those.
    canvas_->sync();
    const WhiteboardCanvas::Counts before = canvas_->counts();
    pen_->moveTo(kPenUp, a, 4);
    pen_->drawSquare(a, side);

    // A circle.
    const PointD centre{std::round(w * 0.6), std::round(h * 0.45)};
    const double radius = std::round(h * 0.2);
    pen_->drawCircle(centre, radius, 180, 10);

    // A right click with the pen's second button.
    const PointD click{std::round(w * 0.85), std::round(h * 0.8)};
    pen_->moveTo(kPenUp, click, 4);
    pen_->rest(kPenUp, 15);
    pen_->rest(kPenSecond, 20);
    pen_->rest(kPenUp, 15);
    pen_->stopMeasuring();
    // The clicks reach the canvas through the driver and the X server.
    waitFor(
        [&] {
            const auto& now = canvas_->counts();
            return now.leftPresses - before.leftPresses == 2 && now.leftReleases - before.leftReleases == 2 &&
                   now.rightPresses - before.rightPresses == 1 && now.rightReleases - before.rightReleases == 1 &&
                   !screen_.pointer().anyButtonHeld();
        },
        5s);

    note("pen script: a square of " + fixed(side, 0) + " px, a circle of radius " + fixed(radius, 0) +
         " px and a right click; 2 px per report at " + std::to_string(reportsPerSecond_) +
         " reports/s, resting 15 reports at each corner");
    WhiteboardCanvas::Counts counts = canvas_->counts();
    counts.leftPresses -= before.leftPresses;
    counts.leftReleases -= before.leftReleases;
    counts.rightPresses -= before.rightPresses;
    counts.rightReleases -= before.rightReleases;
    const PointerState pointer = screen_.pointer();
    note("reports sent: " + std::to_string(pen_->reportsSent()) +
         (pen_->reportsRefused() ? " (" + std::to_string(pen_->reportsRefused()) + " refused)" : "") +
         "; longest pause between two pen-down reports " + fixed(pen_->longestDownGapMs(), 0) + " ms");
    note("pointer vs pen: largest error at rest " + fixed(pen_->largestRestErrorPx()) + " px over " +
         std::to_string(pen_->restsMeasured()) + " rests (limit " + fixed(options_.restLimitPx) +
         "), largest distance from the pen's path while moving " + fixed(pen_->largestPathDistancePx()) +
         " px (limit " + fixed(options_.pathLimitPx) + "; the driver averages 5 readings)");
    note("clicks seen by the X server on the canvas: left " + std::to_string(counts.leftPresses) + " presses / " +
         std::to_string(counts.leftReleases) + " releases, right " + std::to_string(counts.rightPresses) +
         " / " + std::to_string(counts.rightReleases) + " (expected 2 / 2, 1 / 1)");
    check("pointer rests where the pen rests", pen_->largestRestErrorPx() <= options_.restLimitPx,
          fixed(pen_->largestRestErrorPx()) + " px");
    check("pointer follows the pen's path", pen_->largestPathDistancePx() <= options_.pathLimitPx,
          fixed(pen_->largestPathDistancePx()) + " px");
    check("two left clicks (square, circle) and one right click reach the X server",
          counts.leftPresses == 2 && counts.leftReleases == 2 && counts.rightPresses == 1 && counts.rightReleases == 1);
    check("no mouse button held after the strokes", !pointer.anyButtonHeld());
    shot(shotName);
}

bool DemoRun::chooseFromTrayMenu(MenuEntry entry, const std::string& shotName, std::string& detail)
{
    if (!pen_->handOff()) {
        detail = "the pointer did not show the pen's last reports handled before the hand took the mouse";
        return false;
    }
    TrayMenu tray(screen_, *pen_);
    const auto failed = [&](const std::string& what) {
        shot("tray-menu-failed");
        detail = what;
        return false;
    };
    // Its four entries and the separator, nothing highlighted.
    const auto menu = tray.open(
        [](const MenuPicture& now, const MenuPicture&) {
            return now.lines.size() == 4 && now.separators == 1 && now.highlighted() < 0;
        },
        detail);
    if (!menu) return failed(detail);
    if (!shotName.empty()) shot(shotName);
    if (!tray.hover(*menu, static_cast<int>(entry))) return failed("the entry under the pointer was not highlighted");
    if (!tray.clickAndWaitClosed(*menu)) return failed("the menu stayed open after the click on the entry");
    return true;
}

void DemoRun::quitThroughMenu()
{
    note("resident memory of the running driver: " + std::to_string(driver_->residentKiB()) + " KiB");
    std::string detail;
    if (!chooseFromTrayMenu(MenuEntry::Quit, "tray-menu", detail)) {
        check("driver ends through the tray menu (\"Çıkış\")", false, detail);
        return;
    }
    const bool ended = driver_->waitForExit(15000);
    check("driver ends through the tray menu (\"Çıkış\") with status 0", ended && driver_->exitStatus() == 0,
          ended ? "exit status " + std::to_string(*driver_->exitStatus()) : "still running 15 s after the click");
    if (!ended) driver_->stop();
}

} // namespace oru::demo
