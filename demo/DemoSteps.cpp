// Steps that more than one phase takes: the calibration, the strokes, the
// tray menu as a user works it.

#include "DemoRunParts.h"

#include <algorithm>
#include <map>
#include <numbers>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace oru::demo {

using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kCrosshairBlue = 0x0006FF;
constexpr std::uint32_t kCrosshairRed = 0xFF0000;
constexpr int kCrosshairHalfPx = 36;

// What the driver's calibration asks for: 22 steady pen-down readings.
constexpr int kCalibrationJitterUnits = 2;
constexpr int kMaxReportsPerTarget = 2500;

/// The tray menu as the screen shows it.
struct MenuPicture {
    /// Screen rows (first, last) of each entry, top to bottom: its text, or
    /// the whole entry when highlighted.
    std::vector<std::pair<int, int>> lines;
    int separators = 0;
    /// Per line: the share of its rows' pixels in the menu's own colour.
    std::vector<double> plainShare;

    /// The entry drawn in the highlight colour, or -1. Text leaves most of a
    /// plain entry's rows in the menu's colour; a highlight covers them.
    int highlighted() const
    {
        for (std::size_t i = 0; i < plainShare.size(); ++i)
            if (plainShare[i] < 0.5) return static_cast<int>(i);
        return -1;
    }
};

/// Finds the entries and the separators inside a menu window's pixels, from
/// the rows that differ from the menu's most common colour. Rows marked across
/// most of the width are a separator (one or two rows) or a highlighted entry
/// (5 rows or more); other marked rows are text, gaps of up to 2 rows within
/// an entry (a dot, a cedilla). An entry is at least 5 rows high.
MenuPicture readMenu(const PixelBlock& block)
{
    MenuPicture picture;
    // Inside the frame.
    const int left = block.x + 3, right = block.x + block.width - 3;
    const int top = block.y + 2, bottom = block.y + block.height - 2;
    if (right - left < 8 || bottom - top < 8) return picture;
    std::map<std::uint32_t, int> histogram;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) ++histogram[block.at(x, y)];
    const std::uint32_t plain =
        std::max_element(histogram.begin(), histogram.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    const int width = right - left;
    std::vector<int> marked(static_cast<std::size_t>(bottom - top));
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) marked[y - top] += block.at(x, y) != plain;

    const auto rowShare = [&](int first, int last) {
        int unmarked = 0;
        for (int y = first; y <= last; ++y) unmarked += width - marked[y - top];
        return static_cast<double>(unmarked) / (width * (last - first + 1));
    };
    const auto across = [&](int y) { return marked[y - top] >= width * 6 / 10; };
    for (int y = top; y < bottom;) {
        if (marked[y - top] == 0) {
            ++y;
            continue;
        }
        int last = y;
        if (across(y)) {
            // A separator, or a highlighted entry: the highlight fills its
            // rows, text and all.
            while (last + 1 < bottom && across(last + 1)) ++last;
            if (last - y < 2) ++picture.separators;
        } else {
            for (int next = y + 1; next < bottom && next <= last + 3 && !across(next); ++next)
                if (marked[next - top] > 0) last = next;
        }
        if (last - y + 1 >= 5) {
            picture.lines.emplace_back(y, last);
            picture.plainShare.push_back(rowShare(y, last));
        }
        y = last + 1;
    }
    return picture;
}

} // namespace

void DemoRun::calibrate(bool firstStart)
{
    const auto targets = targetPoints(screen_.width(), screen_.height());
    const auto crosshairPixels = [&](PointD t) {
        const PixelBlock block = screen_.grab(static_cast<int>(t.x) - kCrosshairHalfPx - 2,
                                              static_cast<int>(t.y) - kCrosshairHalfPx - 2, 2 * kCrosshairHalfPx + 4,
                                              2 * kCrosshairHalfPx + 4);
        return XScreen::find(block, kCrosshairBlue).count + XScreen::find(block, kCrosshairRed).count;
    };
    std::string counts;
    double worstCentreOffPx = 0;
    int accepted = 0;
    for (int i = 0; i < 4; ++i) {
        const PointD target = targets[i];
        pen_->moveTo(kPenUp, target, 8);
        // Hover over the target until it shows.
        const auto deadline = Clock::now() + 10s;
        bool shown = false;
        while (!(shown = crosshairPixels(target) >= 40) && Clock::now() < deadline)
            for (int n = 0; n < 5; ++n) pen_->report(kPenUp, target);
        if (!shown) {
            check("calibration target " + std::to_string(i) + " shows at (" + fixed(target.x, 0) + "," +
                      fixed(target.y, 0) + ")",
                  false);
            return;
        }
        if (firstStart) shot("calibration-target-" + std::to_string(i));
        // The crosshair's lines are two pixels wide (centre - 1 and centre):
        // pixels of its colour balance around target - 0.5.
        const PixelBlock block = screen_.grab(static_cast<int>(target.x) - kCrosshairHalfPx - 2,
                                              static_cast<int>(target.y) - kCrosshairHalfPx - 2,
                                              2 * kCrosshairHalfPx + 4, 2 * kCrosshairHalfPx + 4);
        ColourSpot spot = XScreen::find(block, kCrosshairBlue);
        if (spot.count == 0) spot = XScreen::find(block, kCrosshairRed);
        worstCentreOffPx = std::max({worstCentreOffPx, std::abs(spot.meanX - (target.x - 0.5)),
                                     std::abs(spot.meanY - (target.y - 0.5))});

        pen_->rest(kPenUp, 10);
        int downReports = 0;
        while (crosshairPixels(target) > 0 && downReports < kMaxReportsPerTarget) {
            for (int n = 0; n < 5; ++n) pen_->report(kPenTip, target, kCalibrationJitterUnits);
            downReports += 5;
        }
        pen_->rest(kPenUp, 10);
        const bool done = downReports < kMaxReportsPerTarget;
        if (!done) {
            check("calibration target " + std::to_string(i) + " accepted", false,
                  std::to_string(downReports) + " pen-down reports sent");
            return;
        }
        ++accepted;
        counts += (counts.empty() ? "" : ", ") + std::to_string(downReports);
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
    const WhiteboardCanvas::Counts before = canvas_->counts();
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
    const std::vector<PointD> square = {{a.x + side, a.y}, {a.x + side, a.y + side}, {a.x, a.y + side}, a};
    pen_->moveTo(kPenUp, a, 4);
    pen_->rest(kPenUp, 15);
    pen_->rest(kPenTip, 15);
    for (const PointD& corner : square) {
        pen_->moveTo(kPenTip, corner);
        pen_->rest(kPenTip, 15);
    }
    pen_->rest(kPenUp, 10);

    // A circle.
    const PointD centre{std::round(w * 0.6), std::round(h * 0.45)};
    const double radius = std::round(h * 0.2);
    std::vector<PointD> circle;
    for (int i = 0; i <= 180; ++i) {
        const double angle = 2 * std::numbers::pi * i / 180;
        circle.push_back({centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)});
    }
    pen_->moveTo(kPenUp, circle.front(), 4);
    pen_->rest(kPenUp, 15);
    pen_->rest(kPenTip, 5);
    pen_->follow(kPenTip, circle);
    pen_->rest(kPenTip, 15);
    pen_->rest(kPenUp, 10);

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

bool DemoRun::movePointerTo(int x, int y)
{
    // The hand leaves the pen for the mouse: a pen still in range would have
    // the driver move the pointer back to it.
    pen_->leave();
    screen_.movePointer(x, y);
    return poll(
        [&] {
            const PointerState p = screen_.pointer();
            return p.x == x && p.y == y;
        },
        5s);
}

bool DemoRun::chooseFromTrayMenu(MenuEntry entry, const std::string& shotName, std::string& detail)
{
    if (!pen_->handOff()) {
        detail = "the pointer did not show the pen's last reports handled before the hand took the mouse";
        return false;
    }
    const TrayLook tray = trayLook();
    if (tray.colour == TrayColour::Absent) {
        detail = "no tray square to right-click";
        return false;
    }
    const int x = (tray.spot.minX + tray.spot.maxX) / 2, y = (tray.spot.minY + tray.spot.maxY) / 2;
    if (!movePointerTo(x, y)) {
        detail = "the pointer did not get to the tray square";
        return false;
    }
    const auto failed = [&](const std::string& what) {
        shot("tray-menu-failed");
        detail = what;
        return false;
    };

    // The menu opens on the press, at the pointer: a new popup window that
    // holds the pressed place (above or below it, wherever there is room).
    std::set<Window> before;
    for (const auto& w : screen_.overrideRedirectWindows()) before.insert(w.id);
    screen_.button(3, true);
    std::optional<XScreen::WindowInfo> menu;
    const bool mapped = poll(
        [&] {
            for (const auto& w : screen_.overrideRedirectWindows()) {
                if (before.count(w.id) || w.width >= screen_.width() / 2 || w.height >= screen_.height() / 2) continue;
                if (x >= w.x && x <= w.x + w.width && y >= w.y && y <= w.y + w.height) menu = w;
            }
            return menu.has_value();
        },
        10s);
    screen_.button(3, false);
    if (!mapped) return failed("no menu opened on a right press on the tray square");

    // Off the menu, so that no entry is highlighted, until it shows its four
    // entries and the separator.
    const int asideX = menu->x >= 24 ? menu->x - 16 : menu->x + menu->width + 16;
    if (!movePointerTo(asideX, menu->y + menu->height / 2)) return failed("the pointer did not move off the menu");
    MenuPicture picture;
    const bool shown = poll(
        [&] {
            picture = readMenu(screen_.grab(menu->x, menu->y, menu->width, menu->height));
            return picture.lines.size() == 4 && picture.separators == 1 && picture.highlighted() < 0;
        },
        10s);
    if (!shown)
        return failed("the menu at " + std::to_string(menu->x) + "," + std::to_string(menu->y) + " (" +
                      std::to_string(menu->width) + "x" + std::to_string(menu->height) + ") did not show 4 entries and a separator (" +
                      std::to_string(picture.lines.size()) + " lines of text, " + std::to_string(picture.separators) +
                      " separators)");
    if (!shotName.empty()) shot(shotName);

    // Onto the entry; it is highlighted once the menu has seen the pointer there.
    const int index = static_cast<int>(entry);
    const auto [top, bottom] = picture.lines[index];
    if (!movePointerTo(menu->x + menu->width / 2, (top + bottom) / 2)) return failed("the pointer did not get to the entry");
    const bool hovered = poll(
        [&] { return readMenu(screen_.grab(menu->x, menu->y, menu->width, menu->height)).highlighted() == index; }, 10s);
    if (!hovered) return failed("the entry under the pointer was not highlighted");
    screen_.button(1, true);
    screen_.button(1, false);
    const bool closed = poll(
        [&] {
            for (const auto& w : screen_.overrideRedirectWindows())
                if (w.id == menu->id) return false;
            return true;
        },
        10s);
    if (!closed) return failed("the menu stayed open after the click on the entry");
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
