// oru-kernel-scenario: the whole driver against the kernel's HID stack, on
// the X display in DISPLAY (a tray host running). Runs as root in the test
// guest: it plugs the emulated pen tracker in through /dev/uhid and starts
// the driver as an unprivileged user, who gets the tracker's node through
// the udev rule (tests/kernel/guest-suite.sh installs it). With a stored
// calibration the driver claims the tracker (tray green); a stroke moves the
// X pointer where the pen is and presses and releases the left button; an
// unplug in the middle of a stroke turns the tray red with no button left
// held; a re-plug turns it green and drawing resumes; SIGTERM ends it with
// status 0.
//
//   oru-kernel-scenario --driver PATH --user UID --home DIR --log FILE --seat-rule FILE [--fast-replug]
//
// FILE of --seat-rule is the udev rule that gives the user the tracker's
// node; it is moved aside for a while: a plug without access must make the
// driver name the rule to install, and a re-plug once it is back must be
// read without a restart.
//
// Prints one line per check ("ok ..." or "FAILED ...") and the times it saw;
// exit status 0 when every check passed.

#include "harness/DriverProcess.h"
#include "kernel/UhidTracker.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using oru::emulated::UhidTracker;
using oru::harness::launchAsUser;
using oru::harness::DriverProcess;
using oru::harness::prepareUserHome;

// Generous limits: the guest runs without hardware virtualisation.
constexpr auto kStartLimit = 120s;
constexpr auto kEventLimit = 20s;
constexpr double kPointerLimitPx = 6;

// Tray colours on the screen, 0xRRGGBB, and how many pixels of a 16 x 16
// square with white text make a square.
constexpr std::uint32_t kTrayRed = 0xFF0000;
constexpr std::uint32_t kTrayGreen = 0x008000;
constexpr std::uint32_t kTrayBlue = 0x0000FF;
constexpr int kTraySquareMinPixels = 100;
constexpr int kTrayStripPx = 32;

struct Options {
    std::string driver;
    uid_t uid = 0;
    std::string home;
    std::string log;
    std::string seatRule;  // the rule that gives the test user the tracker's node
    bool fastReplug = false;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

/// The board in report units for a screen point, px: an affine map that
/// keeps the whole screen below the receivers, which sit 634 units apart.
struct Board {
    static double x(double sx) { return 2 * sx - 1000; }
    static double y(double sy) { return -100 - 2 * sy; }
};

class Screen {
public:
    Screen() : display_(XOpenDisplay(nullptr))
    {
        if (!display_) throw std::runtime_error("cannot open the X display in DISPLAY");
        root_ = DefaultRootWindow(display_);
        width_ = DisplayWidth(display_, DefaultScreen(display_));
        height_ = DisplayHeight(display_, DefaultScreen(display_));
    }
    ~Screen() { XCloseDisplay(display_); }

    int width() const { return width_; }
    int height() const { return height_; }

    struct Pointer {
        int x = 0, y = 0;
        unsigned mask = 0;
        bool left() const { return (mask & Button1Mask) != 0; }
        bool anyButton() const { return (mask & (Button1Mask | Button2Mask | Button3Mask)) != 0; }
    };
    Pointer pointer() const
    {
        Window rootReturn = 0, child = 0;
        int wx = 0, wy = 0;
        Pointer p;
        XQueryPointer(display_, root_, &rootReturn, &child, &p.x, &p.y, &wx, &wy, &p.mask);
        return p;
    }

    enum class Tray { Absent, Red, Green, Blue };
    /// The tray square's colour in the strip along the top.
    Tray tray() const
    {
        XImage* image = XGetImage(display_, root_, 0, 0, width_, kTrayStripPx, AllPlanes, ZPixmap);
        if (!image) return Tray::Absent;
        int red = 0, green = 0, blue = 0;
        for (int y = 0; y < kTrayStripPx; ++y) {
            for (int x = 0; x < width_; ++x) {
                const std::uint32_t rgb = XGetPixel(image, x, y) & 0xFFFFFF;
                red += rgb == kTrayRed;
                green += rgb == kTrayGreen;
                blue += rgb == kTrayBlue;
            }
        }
        XDestroyImage(image);
        if (green >= kTraySquareMinPixels) return Tray::Green;
        if (red >= kTraySquareMinPixels) return Tray::Red;
        if (blue >= kTraySquareMinPixels) return Tray::Blue;
        return Tray::Absent;
    }

private:
    Display* display_;
    Window root_ = 0;
    int width_ = 0;
    int height_ = 0;
};

const char* trayName(Screen::Tray tray)
{
    static const char* const names[] = {"absent", "red", "green", "blue"};
    return names[static_cast<int>(tray)];
}

/// Waits for done() (looking every 10 ms) until timeout; returns done().
bool waitFor(const std::function<bool()>& done, Clock::duration timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

/// The driver, started as the test user, with its output in the log.
std::unique_ptr<DriverProcess> startDriver(const Options& options)
{
    prepareUserHome(options.home, options.uid);
    std::vector<std::string> env = {
        std::string("DISPLAY=") + std::getenv("DISPLAY"), "HOME=" + options.home,
        "XDG_RUNTIME_DIR=" + options.home + "/runtime", "XDG_CONFIG_HOME=" + options.home + "/config",
        "QT_QPA_PLATFORM=xcb", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent", "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    for (const char* passed : {"QT_DEBUG_PLUGINS", "QT_LOGGING_RULES", "FONTCONFIG_PATH", "XDG_CACHE_HOME"})
        if (const char* value = std::getenv(passed)) env.push_back(std::string(passed) + "=" + value);
    return std::make_unique<DriverProcess>(launchAsUser(options.driver, options.log, options.uid, env));
}

class Scenario {
public:
    explicit Scenario(Options options) : options_(std::move(options)) {}

    int run()
    {
        try {
            steps();
        } catch (const std::exception& error) {
            check("the scenario ran to its end", false, error.what());
        }
        std::printf("%d checks, %d failed\n", checks_, failures_);
        return failures_ == 0 ? 0 : 1;
    }

private:
    void steps()
    {
        writeStoredCalibration();
        tracker_ = std::make_unique<UhidTracker>();
        // Plugged in before the session starts, as at a desktop: udevd has
        // given the user the node by the time the driver looks.
        settleUdev();
        std::printf("pen tracker %s (%s) on a %dx%d X screen\n", tracker_->node().c_str(),
                    tracker_->identity().c_str(), screen_.width(), screen_.height());
        driver_ = startDriver(options_);

        std::optional<double> dockedAt, greenAt;
        waitFor(
            [&] {
                const auto tray = screen_.tray();
                const double at = seconds(Clock::now() - driver_->started());
                if (tray != Screen::Tray::Absent && !dockedAt) dockedAt = at;
                if (tray == Screen::Tray::Green) greenAt = at;
                return greenAt.has_value() || !driver_->running();
            },
            kStartLimit);
        if (dockedAt) std::printf("time: tray square docked %.2f s after the driver's start\n", *dockedAt);
        if (!check("stored calibration: the tracker is claimed (tray green)", greenAt.has_value(),
                   "tray " + std::string(trayName(screen_.tray())) + (driver_->running() ? "" : ", driver ended")))
            return;
        std::printf("time: tray green %.2f s after the driver's start\n", *greenAt);
        if (!check("the driver opens the tracker's node", tracker_->waitOpen(true, kEventLimit))) return;

        stroke({0.3, 0.35}, {0.55, 0.6}, "first stroke");

        // Unplugged in the middle of a stroke: the reports stop with the pen down.
        const Point c = at(0.2, 0.7);
        rest(0, c, 20);
        rest(1, c, 20);
        check("mid-stroke: the pen holds the left button", waitFor([&] { return screen_.pointer().left(); }, kEventLimit));
        moveTo(1, at(0.3, 0.7));
        const auto unplugged = Clock::now();
        tracker_.reset();
        const bool red = waitFor([&] { return screen_.tray() == Screen::Tray::Red; }, kEventLimit);
        check("unplugged mid-stroke: tray red", red, trayName(screen_.tray()));
        if (red) std::printf("time: tray red %.2f s after the unplug\n", seconds(Clock::now() - unplugged));
        check("unplugged mid-stroke: no button held",
              waitFor([&] { return !screen_.pointer().anyButton(); }, kEventLimit));

        const auto plugged = Clock::now();
        tracker_ = std::make_unique<UhidTracker>();
        const bool green = waitFor([&] { return screen_.tray() == Screen::Tray::Green; }, kEventLimit);
        check("re-plugged: tray green", green, tracker_->node() + ", tray " + trayName(screen_.tray()));
        if (green) std::printf("time: tray green %.2f s after the re-plug\n", seconds(Clock::now() - plugged));
        if (!check("re-plugged: the driver opens the new node", tracker_->waitOpen(true, kEventLimit),
                   tracker_->node() + " (" + tracker_->identity() + ")"))
            return;
        stroke({0.65, 0.3}, {0.4, 0.75}, "stroke after the re-plug");

        // Plugged in where nothing gives the user its node: the driver says
        // which rule to install; once it is there, a re-plug is read without
        // a restart.
        tracker_.reset();
        waitFor([&] { return screen_.tray() == Screen::Tray::Red; }, kEventLimit);
        const std::string aside = options_.seatRule + ".aside";
        if (std::rename(options_.seatRule.c_str(), aside.c_str()) != 0)
            throw std::runtime_error("cannot move " + options_.seatRule + " aside");
        reloadUdevRules();
        const std::size_t logBefore = driverLog().size();
        tracker_ = std::make_unique<UhidTracker>();
        const bool told = waitFor(
            [&] { return driverLog().find("70-oru-pen-tracker.rules", logBefore) != std::string::npos; }, kEventLimit);
        check("a node the user can't open: the driver names the rule to install", told,
              driverLog().substr(logBefore));
        if (std::rename(aside.c_str(), options_.seatRule.c_str()) != 0)
            throw std::runtime_error("cannot put " + options_.seatRule + " back");
        reloadUdevRules();
        tracker_.reset();
        // Plugged in again once the driver has seen the unplug, as a person
        // does. Plugged in at once (--fast-replug), the driver's rescan for
        // the old node's removal lists the new node before udevd has given
        // it to the user, and the later "add" finds nothing new to look at:
        // the tracker stays unread until the next plug.
        if (!options_.fastReplug) waitFor([&] { return screen_.tray() == Screen::Tray::Red; }, kEventLimit);
        tracker_ = std::make_unique<UhidTracker>();
        check("with the rule, a re-plug is read without restarting the driver",
              tracker_->waitOpen(true, kEventLimit) &&
                  waitFor([&] { return screen_.tray() == Screen::Tray::Green; }, kEventLimit));
        stroke({0.5, 0.5}, {0.7, 0.4}, "stroke after the rule came");

        check("SIGTERM ends the driver with status 0", driver_->endWith(SIGTERM, 15000) == 0);
        check("no button held at the end", !screen_.pointer().anyButton());
    }

    struct Point {
        double x, y;
    };
    Point at(double fx, double fy) const
    {
        return {std::round(screen_.width() * fx), std::round(screen_.height() * fy)};
    }

    std::string driverLog() const
    {
        std::ifstream log(options_.log);
        return std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    }

    static void reloadUdevRules()
    {
        if (std::system("udevadm control --reload") != 0) throw std::runtime_error("udevadm control --reload failed");
    }
    static void settleUdev()
    {
        if (std::system("udevadm settle --timeout=20") != 0) throw std::runtime_error("udevadm settle failed");
    }

    void writeStoredCalibration()
    {
        // Where the targets are, 10% in from each edge, and where the board
        // sees them: Edit1..Edit8 are x and y of targets 0..3 in turn.
        // Rounded halves to even, from the single-precision inset, as the
        // driver places them.
        const long double inset = 0.1f, w = screen_.width(), h = screen_.height();
        const auto place = [](long double v) { return static_cast<double>(std::nearbyint(v)); };
        const std::array<Point, 4> targets = {{{place(w * inset), place(h * inset)},
                                               {place(w * (1 - inset)), place(h * inset)},
                                               {place(w * inset), place(h * (1 - inset))},
                                               {place(w * (1 - inset)), place(h * (1 - inset))}}};
        const std::string dir = options_.home + "/config/oruDriver";
        std::filesystem::create_directories(dir);
        std::ofstream store(dir + "/store.conf");
        store << "[Software\\oruDriver]\n";
        for (int k = 0; k < 4; ++k) {
            store << "\"Edit" << 2 * k + 1 << "_Text\" = text \"" << std::lround(Board::x(targets[k].x)) << "\"\n";
            store << "\"Edit" << 2 * k + 2 << "_Text\" = text \"" << std::lround(Board::y(targets[k].y)) << "\"\n";
        }
        store.close();
        for (const auto& path : {options_.home + "/config", dir, dir + "/store.conf"})
            if (::chown(path.c_str(), options_.uid, options_.uid) != 0)
                throw std::runtime_error("cannot give " + path + " to the test user");
        ::chmod((dir + "/store.conf").c_str(), 0600);
        ::chmod(dir.c_str(), 0700);
    }

    /// One report with the pen at p (screen px); reports go out 250 a second.
    void report(int penState, Point p)
    {
        nextTick_ = std::max(nextTick_ + 4ms, Clock::now() - 20ms);
        std::this_thread::sleep_until(nextTick_);
        pen_ = p;
        if (!tracker_->send(oru::emulated::reportAt(penState, Board::x(p.x), Board::y(p.y))))
            throw std::runtime_error("the kernel refused a report");
    }
    void rest(int penState, Point p, int reports)
    {
        for (int i = 0; i < reports; ++i) report(penState, p);
    }
    void moveTo(int penState, Point to, double stepPx = 3)
    {
        const Point from = pen_;
        const int steps = std::max(1, static_cast<int>(std::hypot(to.x - from.x, to.y - from.y) / stepPx));
        for (int i = 1; i <= steps; ++i)
            report(penState, {from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
    }
    /// Waits until the X pointer is at p, within the limit.
    bool pointerAt(Point p, std::string& detail)
    {
        Screen::Pointer seen;
        const bool there = waitFor(
            [&] {
                seen = screen_.pointer();
                return std::hypot(seen.x - p.x, seen.y - p.y) <= kPointerLimitPx;
            },
            kEventLimit);
        detail = "pointer at " + std::to_string(seen.x) + "," + std::to_string(seen.y) + ", pen at " +
                 std::to_string(static_cast<int>(p.x)) + "," + std::to_string(static_cast<int>(p.y));
        return there;
    }

    void stroke(Point fromRatio, Point toRatio, const std::string& name)
    {
        const Point a = at(fromRatio.x, fromRatio.y), b = at(toRatio.x, toRatio.y);
        std::string detail;
        moveTo(0, a, 8);
        rest(0, a, 25);
        check(name + ": the pointer goes where the hovering pen is", pointerAt(a, detail), detail);
        check(name + ": no button held while hovering", !screen_.pointer().anyButton());
        rest(1, a, 25);
        check(name + ": pen down presses the left button",
              waitFor([&] { return screen_.pointer().left(); }, kEventLimit));
        moveTo(1, b);
        rest(1, b, 25);
        const bool there = pointerAt(b, detail);
        check(name + ": the pointer follows the pen with the button held", there && screen_.pointer().left(), detail);
        rest(0, b, 25);
        check(name + ": pen up releases the left button",
              waitFor([&] { return !screen_.pointer().anyButton(); }, kEventLimit));
    }

    bool check(const std::string& what, bool passed, const std::string& detail = {})
    {
        ++checks_;
        if (!passed) ++failures_;
        std::printf("%s %s%s\n", passed ? "ok" : "FAILED", what.c_str(), detail.empty() ? "" : (" (" + detail + ")").c_str());
        std::fflush(stdout);
        return passed;
    }

    Options options_;
    Screen screen_;
    std::unique_ptr<UhidTracker> tracker_;
    std::unique_ptr<DriverProcess> driver_;
    Clock::time_point nextTick_ = Clock::now();
    Point pen_{0, 0};
    int checks_ = 0;
    int failures_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--fast-replug") {
            options.fastReplug = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "oru-kernel-scenario: %s needs a value\n", name.c_str());
            return 2;
        }
        const std::string value = argv[i + 1];
        if (name == "--driver") options.driver = value;
        else if (name == "--user") options.uid = static_cast<uid_t>(std::stoul(value));
        else if (name == "--home") options.home = value;
        else if (name == "--log") options.log = value;
        else if (name == "--seat-rule") options.seatRule = value;
        else {
            std::fprintf(stderr, "oru-kernel-scenario: unknown option %s\n", name.c_str());
            return 2;
        }
    }
    if (options.driver.empty() || options.uid == 0 || options.home.empty() || options.log.empty() ||
        options.seatRule.empty()) {
        std::fprintf(stderr,
                     "usage: oru-kernel-scenario --driver PATH --user UID --home DIR --log FILE --seat-rule FILE\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    return Scenario(std::move(options)).run();
}
