#include "DemoRun.h"

#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <strings.h>
#include <fstream>
#include <map>
#include <set>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace oru::demo {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The tray host sits in a strip along the top; the canvas stays below it.
constexpr int kStripPx = 32;

// Colours as 0xRRGGBB on the screen.
constexpr std::uint32_t kTrayRed = 0xFF0000;
constexpr std::uint32_t kTrayGreen = 0x008000;
constexpr std::uint32_t kTrayBlue = 0x0000FF;
constexpr std::uint32_t kCrosshairBlue = 0x0006FF;
constexpr std::uint32_t kCrosshairRed = 0xFF0000;
constexpr int kCrosshairHalfPx = 36;

// A tray square is 16 x 16 with the text "oru" in white over it.
constexpr int kTraySquareMinPixels = 100;

constexpr float kInsetRatio = 0.1f;

// What the driver's calibration asks for: 22 steady pen-down readings.
constexpr int kCalibrationJitterUnits = 2;
constexpr int kMaxReportsPerTarget = 2500;

std::array<PointD, 4> targetPoints(int w, int h)
{
    // Products in extended precision from the single-precision ratio, rounded
    // half to even: as the driver places its targets.
    const long double r = kInsetRatio, q = 1.0f - kInsetRatio;
    const auto round = [](long double v) { return static_cast<double>(std::nearbyint(v)); };
    return {{{round(w * r), round(h * r)}, {round(w * q), round(h * r)}, {round(w * r), round(h * q)},
             {round(w * q), round(h * q)}}};
}

std::string fixed(double value, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

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

const char* trayColourName(int colour)
{
    static const char* const names[] = {"none", "red", "green", "blue"};
    return names[colour];
}

DemoRun::DemoRun(DemoOptions options)
    : options_(std::move(options)), board_(screen_.width(), screen_.height())
{
    reportsPerSecond_ = options_.reportsPerSecond > 0 ? options_.reportsPerSecond
                                                      : (options_.phase == "endurance" ? 1000 : 250);
    pen_ = std::make_unique<PenSession>(tracker_, screen_, board_,
                                        std::chrono::microseconds(1'000'000 / reportsPerSecond_));
    pen_->setRestLimit(options_.restLimitPx);
}

DemoRun::~DemoRun()
{
    pen_->setCanvas(nullptr);
    canvas_.reset();
    driver_.reset();  // ends the driver if it still runs
}

int DemoRun::run()
{
    try {
        if (options_.phase == "first") {
            runFirstStart();
        } else if (options_.phase == "again") {
            runAgain();
        } else if (options_.phase == "endurance") {
            runEndurance();
        } else {
            throw std::invalid_argument("unknown phase " + options_.phase);
        }
    } catch (const std::exception& error) {
        check("the run went through to its end", false, error.what());
    }
    return verdict();
}

// ---------------------------------------------------------------- phases

void DemoRun::runFirstStart()
{
    note("oruDriver demo on a " + std::to_string(screen_.width()) + "x" + std::to_string(screen_.height()) +
         " X screen; emulated pen tracker 0020:0002 under umockdev; empty per-user store");
    pen_->withTrackerQuiet([&] { tracker_.plug(); });
    startDriver();

    std::optional<XScreen::WindowInfo> window;
    const bool shown = waitFor([&] { return (window = screen_.viewableWindow("CalibrationForm")).has_value(); }, 15s);
    check("calibration window opens at the first start", shown);
    if (!shown) return;
    note("calibration window up after " + fixed(secondsSinceStart(), 2) + " s at " + std::to_string(window->x) + "," +
         std::to_string(window->y) + " " + std::to_string(window->width) + "x" + std::to_string(window->height));
    check("calibration window covers the screen",
          window->x == 0 && window->y == 0 && window->width == screen_.width() && window->height == screen_.height());
    const bool opened = waitForNodeOpen(15s);
    check("driver opens the pen tracker", opened);
    if (!opened) return;
    note("pen tracker opened by the driver after " + fixed(secondsSinceStart(), 2) + " s");

    calibrate(true);

    canvas_ = std::make_unique<WhiteboardCanvas>(screen_.display(), 0, kStripPx, screen_.width(), screen_.height() - kStripPx);
    pen_->setCanvas(canvas_.get());
    drawStrokes();
    quitThroughMenu();
    checkStoredCalibration();
}

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

    canvas_ = std::make_unique<WhiteboardCanvas>(screen_.display(), 0, kStripPx, screen_.width(), screen_.height() - kStripPx);
    pen_->setCanvas(canvas_.get());
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

void DemoRun::runEndurance()
{
    note("endurance: " + fixed(options_.enduranceSeconds, 0) + " s at " + std::to_string(reportsPerSecond_) +
         " reports/s, unplug and re-plug every " + fixed(options_.replugEverySeconds, 0) + " s");
    pen_->withTrackerQuiet([&] { tracker_.plug(); });
    startDriver();
    const bool green = waitForTray(TrayColour::Green, 15s);
    check("tray square green: pen tracker claimed", green);
    check("no calibration window with a stored calibration", !screen_.viewableWindow("CalibrationForm"));
    const bool opened = waitForNodeOpen(10s);
    check("driver opens the pen tracker", opened);
    if (!green || !opened) return;

    // The pen writes rows left to right, lifting at the end of each row, over
    // and over: every report index k has one place, so a pointer position
    // tells which report the driver last handled, and the order must only go
    // forward.
    const double stepPx = 0.5, rowStepPx = 24;
    const double x0 = std::round(screen_.width() * 0.08), x1 = std::round(screen_.width() * 0.92);
    const double y0 = kStripPx + 40, y1 = screen_.height() - 40;
    const long columns = static_cast<long>((x1 - x0) / stepPx) + 1;
    const long rows = static_cast<long>((y1 - y0) / rowStepPx) + 1;
    const long perLap = rows * columns;
    const auto place = [&](long k) {
        const long r = k % perLap;
        return PointD{x0 + (r % columns) * stepPx, y0 + static_cast<double>(r / columns) * rowStepPx};
    };
    const auto stateAt = [&](long k) { return (k % perLap) % columns == columns - 1 ? kPenUp : kPenTip; };

    long sentIndex = 0;  // index of the pen position of the latest report
    long furthest = -1;  // furthest index the pointer has shown
    long backwardSteps = 0, motions = 0, maxLag = 0;
    double worstBackPx = 0, worstOffPathPx = 0;
    const double backwardTolerancePx = 3;
    const long aheadSlack = static_cast<long>(options_.pathLimitPx / stepPx);
    canvas_ = std::make_unique<WhiteboardCanvas>(screen_.display(), 0, kStripPx, screen_.width(), screen_.height() - kStripPx,
                                           false);
    pen_->setCanvas(canvas_.get());
    pen_->moveTo(kPenUp, place(0), 8);
    pen_->rest(kPenUp, 20);
    canvas_->onMotion([&](int x, int y) {
        ++motions;
        const long row = std::clamp(std::lround((y - y0) / rowStepPx), 0L, rows - 1);
        const long column = std::clamp(std::lround((x - x0) / stepPx), 0L, columns - 1);
        const double offPath = std::max({std::abs(y - (y0 + row * rowStepPx)), x0 - x, x - x1, 0.0});
        worstOffPathPx = std::max(worstOffPathPx, offPath);
        const long r = row * columns + column;
        // The lap that puts this place at or before the pen, give or take
        // the calibration's error of a few pixels.
        const long ahead = sentIndex + aheadSlack - r;
        const long j = r + perLap * (ahead >= 0 ? ahead / perLap : -((-ahead + perLap - 1) / perLap));
        if (furthest >= 0 && j < furthest - static_cast<long>(backwardTolerancePx / stepPx)) {
            ++backwardSteps;
            worstBackPx = std::max(worstBackPx, (furthest - j) * stepPx);
        }
        furthest = std::max(furthest, j);
        maxLag = std::max(maxLag, std::max(0L, sentIndex - j));
    });

    const auto start = Clock::now();
    const auto total = std::chrono::duration<double>(options_.enduranceSeconds);
    const auto replugEvery = std::chrono::duration<double>(options_.replugEverySeconds);
    auto nextReplug = start + std::chrono::duration_cast<Clock::duration>(replugEvery);
    auto nextProgress = start + 60s;
    long firstMinuteKiB = -1;
    int replugs = 0, redSeen = 0, greenSeen = 0;
    double worstRedS = 0, worstGreenS = 0;
    const long sentBefore = pen_->reportsSent();

    while (Clock::now() - start < total) {
        pen_->report(stateAt(sentIndex), place(sentIndex));
        ++sentIndex;
        const auto now = Clock::now();
        if (firstMinuteKiB < 0 && now - start >= 60s) {
            firstMinuteKiB = driver_->residentKiB();
            note("resident memory after the first minute: " + std::to_string(firstMinuteKiB) + " KiB");
        }
        if (now >= nextProgress) {
            nextProgress += 60s;
            if (!options_.quiet)
                std::printf("  %4.0f s: %ld reports sent, driver resident %ld KiB, %d re-plugs\n", seconds(now - start),
                            pen_->reportsSent() - sentBefore, driver_->residentKiB(), replugs);
            std::fflush(stdout);
        }
        if (now >= nextReplug && now - start < total - 5s) {
            nextReplug += std::chrono::duration_cast<Clock::duration>(replugEvery);
            ++replugs;
            const auto unplugged = Clock::now();
            // Every fourth unplug as the kernel does it (see UnplugOrder for
            // why not all of them under umockdev).
            pen_->withTrackerQuiet([&] {
                if (replugs % 4 == 1) {
                    tracker_.unplug();
                } else {
                    tracker_.unplug(TrackerTestbed::UnplugOrder::AnnouncedFirst,
                                    [&] { waitFor([&] { return !tracker_.openedBy(driver_->pid()); }, 3s); });
                }
            });
            if (waitForTray(TrayColour::Red, 5s)) {
                ++redSeen;
                worstRedS = std::max(worstRedS, seconds(Clock::now() - unplugged));
            }
            const auto plugged = Clock::now();
            pen_->withTrackerQuiet([&] { tracker_.plug(); });
            if (waitForTray(TrayColour::Green, 10s)) {
                ++greenSeen;
                worstGreenS = std::max(worstGreenS, seconds(Clock::now() - plugged));
            }
            waitForNodeOpen(10s);
        }
        if (!driver_->running()) throw std::runtime_error("the driver ended during the run");
    }
    const double elapsed = seconds(Clock::now() - start);
    const double driverCpuS = driver_->cpuSeconds();
    const long sent = pen_->reportsSent() - sentBefore;
    pen_->rest(kPenUp, 20);
    // The last reports handled: the pointer at the pen, the button let go.
    pen_->awaitPointerAtPen();
    waitFor([&] { return !screen_.pointer().anyButtonHeld(); }, 5s);
    const PointerState pointer = screen_.pointer();
    const long endKiB = driver_->residentKiB();

    note("reports sent: " + std::to_string(sent) + " in " + fixed(elapsed, 0) + " s (" + fixed(sent / elapsed, 0) +
         " per second); refused because the driver fell behind: " + std::to_string(pen_->reportsRefused()));
    note("pointer motions seen: " + std::to_string(motions) + "; largest lag behind the pen " +
         fixed(maxLag * stepPx, 1) + " px (" + std::to_string(maxLag) + " reports); largest distance from the path " +
         fixed(worstOffPathPx, 1) + " px");
    note("driver CPU time: " + fixed(driverCpuS, 1) + " s (" + fixed(100 * driverCpuS / elapsed, 0) +
         "% of one core)");
    note("re-plugs: " + std::to_string(replugs) + " (tray red within " + fixed(worstRedS, 2) + " s, green within " +
         fixed(worstGreenS, 2) + " s)");
    note("resident memory: " + std::to_string(firstMinuteKiB) + " KiB after the first minute, " +
         std::to_string(endKiB) + " KiB at the end");
    check("reports handled in order (no backward step over " + fixed(backwardTolerancePx, 0) + " px)",
          backwardSteps == 0,
          std::to_string(backwardSteps) + " backward steps, worst " + fixed(worstBackPx, 1) + " px");
    check("pointer stays on the pen's path (within " + fixed(options_.pathLimitPx, 0) + " px)",
          worstOffPathPx <= options_.pathLimitPx, fixed(worstOffPathPx, 1) + " px");
    check("every unplug turns the tray red and every re-plug green", redSeen == replugs && greenSeen == replugs,
          std::to_string(redSeen) + " red, " + std::to_string(greenSeen) + " green of " + std::to_string(replugs));
    if (firstMinuteKiB > 0)
        check("resident memory at the end within 1 MiB of the first minute's", std::abs(endKiB - firstMinuteKiB) <= 1024,
              std::to_string(endKiB - firstMinuteKiB) + " KiB difference");
    else
        note("run shorter than a minute: no memory comparison");
    check("no mouse button held at the end", !pointer.anyButtonHeld());
    quitThroughMenu();
}

// ---------------------------------------------------------------- steps

void DemoRun::startDriver()
{
    // The start-up time counts from a tray that is there.
    if (!waitFor([&] { return screen_.trayHostPresent(); }, 10s)) note("no tray host owned the system tray before the start");
    // A square left over from an earlier driver would fake the start-up time.
    if (!waitFor([&] { return trayLook().colour == TrayColour::Absent; }, 3s))
        note("a tray square was still showing before the start");
    const std::string log = options_.outputDir + "/driver-" + options_.phase + ".log";
    driver_ = std::make_unique<DriverProcess>(options_.driverPath, log, options_.outputDir + "/driver.pid");
    driverStart_ = Clock::now();
}

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
    waitFor(
        [&] {
            const auto& now = canvas_->counts();
            return !screen_.pointer().anyButtonHeld() && now.leftPresses == now.leftReleases;
        },
        5s);
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
              counts.leftReleases == counts.leftPresses);
    check("pointer follows the pen through the re-plug", pen_->largestPathDistancePx() <= options_.pathLimitPx,
          fixed(pen_->largestPathDistancePx()) + " px");
    check("no mouse button held after the stroke", !screen_.pointer().anyButtonHeld());
    shot("replug-stroke");
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

void DemoRun::recalibrateThroughMenu()
{
    pen_->rest(kPenUp, 10);
    std::string detail;
    const bool chosen = chooseFromTrayMenu(MenuEntry::Calibrate, "tray-menu-kalibre", detail);
    const bool shown = chosen && waitFor([&] { return screen_.viewableWindow("CalibrationForm").has_value(); }, 10s);
    if (chosen && !shown) detail = "no calibration window 10 s after the click";
    check("\"Kalibre\" in the tray menu opens the calibration window", shown, detail);
    if (shown) calibrate(false);
}

void DemoRun::checkStoredCalibration()
{
    // The store keeps the board reading of each target as text, x and y of
    // targets 0..3 in turn: "Edit1_Text" = text "-123" ...
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (!configHome) return;
    std::array<std::optional<long>, 8> texts;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(configHome) + "/oruDriver", ec)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path());
        for (std::string line; std::getline(file, line);) {
            int index = 0;
            long value = 0;
            char name[16] = {};
            if (std::sscanf(line.c_str(), " \"Edit%d_%15[A-Za-z]\" = text \"%ld\"", &index, name, &value) == 3 &&
                index >= 1 && index <= 8 && strcasecmp(name, "Text") == 0)
                texts[index - 1] = value;
        }
    }
    const auto targets = targetPoints(screen_.width(), screen_.height());
    double worstUnits = 0;
    bool complete = true;
    for (int k = 0; k < 4; ++k) {
        const PointD expected = board_.boardFromScreen(targets[k]);
        if (!texts[2 * k] || !texts[2 * k + 1]) {
            complete = false;
            continue;
        }
        worstUnits = std::max({worstUnits, std::abs(*texts[2 * k] - expected.x), std::abs(*texts[2 * k + 1] - expected.y)});
    }
    // The pen shook by up to 2 units; distances come in whole units, which
    // trilateration far from the receivers turns into up to about 3.
    check("store holds the four targets' board readings (within 6 units)", complete && worstUnits <= 6,
          complete ? "worst " + fixed(worstUnits, 1) + " units" : "Edit1..Edit8 not all found under " +
                                                                      std::string(configHome) + "/oruDriver");
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
    poll(
        [&] {
            const auto& counts = canvas_->counts();
            return !screen_.pointer().anyButtonHeld() && counts.leftReleases == counts.leftPresses;
        },
        5s);
    const PointerState after = screen_.pointer();
    const auto& counts = canvas_->counts();
    check("SIGTERM while drawing ends the driver with status 0", ended && driver_->exitStatus() == 0,
          ended ? "exit status " + std::to_string(*driver_->exitStatus()) : "still running after 10 s");
    check("the held button is released at the end", held && !after.anyButtonHeld() &&
                                                          counts.leftReleases == counts.leftPresses,
          std::to_string(counts.leftPresses) + " presses, " + std::to_string(counts.leftReleases) + " releases");
    if (!ended) driver_->stop();
}

// ---------------------------------------------------------------- helpers

DemoRun::TrayLook DemoRun::trayLook() const
{
    const PixelBlock strip = screen_.grab(0, 0, screen_.width(), kStripPx);
    const std::pair<TrayColour, std::uint32_t> colours[] = {
        {TrayColour::Red, kTrayRed}, {TrayColour::Green, kTrayGreen}, {TrayColour::Blue, kTrayBlue}};
    for (const auto& [colour, rgb] : colours) {
        const ColourSpot spot = XScreen::find(strip, rgb);
        if (spot.count >= kTraySquareMinPixels && spot.maxX - spot.minX < 32 && spot.maxY - spot.minY < 32)
            return {colour, spot};
    }
    return {};
}

bool DemoRun::waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return poll(
        [&] {
            if (done()) return true;
            if (driver_ && !driver_->running()) throw std::runtime_error("the driver ended unexpectedly");
            return false;
        },
        timeout);
}

bool DemoRun::poll(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    // The pen is out of range while the demo waits for something.
    pen_->leave();
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        pen_->idle(20ms);
    }
    return true;
}

bool DemoRun::waitForTray(TrayColour colour, std::chrono::milliseconds timeout)
{
    return waitFor([&] { return trayLook().colour == colour; }, timeout);
}

bool DemoRun::waitForNodeOpen(std::chrono::milliseconds timeout)
{
    // The driver briefly opens a node to check access before its reader
    // keeps it open: look twice.
    return waitFor([&] { return tracker_.openedBy(driver_->pid()) && (pen_->idle(60ms), tracker_.openedBy(driver_->pid())); },
                   timeout);
}

void DemoRun::shot(const std::string& name)
{
    const std::string path = options_.outputDir + "/" + name + ".png";
    screen_.screenshot(path);
    shots_.push_back(name + ".png");
}

void DemoRun::shotTray(const std::string& name)
{
    const TrayLook tray = trayLook();
    const std::string path = options_.outputDir + "/" + name + ".png";
    // The tray strip's right end, eight times enlarged.
    const int width = 96;
    screen_.screenshot(path, screen_.width() - width, 0, width, kStripPx, 8);
    shots_.push_back(name + ".png");
    if (tray.colour != TrayColour::Absent)
        note(std::string("tray square ") + trayColourName(static_cast<int>(tray.colour)) + " at " +
             std::to_string(tray.spot.minX) + "," + std::to_string(tray.spot.minY) + " (" +
             std::to_string(tray.spot.maxX - tray.spot.minX + 1) + "x" +
             std::to_string(tray.spot.maxY - tray.spot.minY + 1) + ")");
}

double DemoRun::secondsSinceStart() const { return seconds(Clock::now() - driverStart_); }

void DemoRun::check(const std::string& what, bool passed, const std::string& detail)
{
    checks_.push_back({what, passed, detail});
}

void DemoRun::note(const std::string& line)
{
    notes_.push_back(line);
}

int DemoRun::verdict()
{
    std::ostringstream out;
    out << "Summary (" << options_.phase << "):\n";
    for (const auto& line : notes_) out << "  " << line << "\n";
    out << "Checks:\n";
    bool all = !checks_.empty();
    for (const auto& c : checks_) {
        out << "  [" << (c.passed ? "ok" : "FAILED") << "] " << c.what;
        if (!c.detail.empty()) out << ": " << c.detail;
        out << "\n";
        all = all && c.passed;
    }
    if (!shots_.empty()) {
        out << "Screenshots in " << options_.outputDir << ":";
        for (const auto& s : shots_) out << " " << s;
        out << "\n";
    }
    out << "Result: " << (all ? "PASS" : "FAIL") << " (" << options_.phase << ")\n";
    std::fputs(out.str().c_str(), stdout);
    std::fflush(stdout);
    std::ofstream(options_.outputDir + "/summary-" + options_.phase + ".txt") << out.str();
    return all ? 0 : 1;
}

} // namespace oru::demo
