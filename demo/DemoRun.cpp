// The demo's run: the phase it was asked for, the driver's start, the waits
// and looks at the screen every phase uses, and the verdict.

#include "DemoRunParts.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace oru::demo {

using namespace std::chrono_literals;

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
    return verdict_.write(options_.phase, options_.outputDir);
}

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

void DemoRun::openCanvas(bool ink)
{
    canvas_ = std::make_unique<WhiteboardCanvas>(screen_.display(), 0, kTrayStripPx, screen_.width(),
                                                 screen_.height() - kTrayStripPx, ink);
    pen_->setCanvas(canvas_.get());
}

// ---------------------------------------------------------------- helpers

TrayLook DemoRun::trayLook() const { return lookAtTray(screen_); }

bool DemoRun::waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return poll(
        [&] {
            if (done()) return true;
            if (driver_ && !driver_->running()) {
                throw std::runtime_error("the driver ended unexpectedly (exit status " +
                                         std::to_string(driver_->exitStatus().value_or(-1)) +
                                         driver_->secondInstanceNote() + ")");
            }
            return false;
        },
        timeout);
}

bool DemoRun::poll(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return pen_->idleUntil(done, timeout);
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
    verdict_.shot(name + ".png");
}

void DemoRun::shotTray(const std::string& name)
{
    const TrayLook tray = trayLook();
    const std::string path = options_.outputDir + "/" + name + ".png";
    // The tray strip's right end, eight times enlarged.
    const int width = 96;
    screen_.screenshot(path, screen_.width() - width, 0, width, kTrayStripPx, 8);
    verdict_.shot(name + ".png");
    if (tray.colour != TrayColour::Absent)
        note(std::string("tray square ") + trayColourName(static_cast<int>(tray.colour)) + " at " +
             std::to_string(tray.spot.minX) + "," + std::to_string(tray.spot.minY) + " (" +
             std::to_string(tray.spot.maxX - tray.spot.minX + 1) + "x" +
             std::to_string(tray.spot.maxY - tray.spot.minY + 1) + ")");
}

bool DemoRun::leftButtonLetGo() const
{
    const bool held = screen_.pointer().anyButtonHeld();
    const auto& counts = canvas_->counts();
    return !held && counts.leftPresses == counts.leftReleases;
}

double DemoRun::secondsSinceStart() const { return seconds(Clock::now() - driverStart_); }

} // namespace oru::demo
