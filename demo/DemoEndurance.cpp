// Phase "endurance": a long run at a high report rate with regular re-plugs;
// the order of the reports, the path, the tray and the driver's memory.

#include "DemoRunParts.h"

#include <algorithm>
#include <stdexcept>

namespace oru::demo {

using namespace std::chrono_literals;

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
    const double y0 = kTrayStripPx + 40, y1 = screen_.height() - 40;
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
    openCanvas(false);
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

} // namespace oru::demo
