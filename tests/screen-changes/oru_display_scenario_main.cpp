// oru-display-scenario: the real driver with the emulated pen tracker on an X
// server whose screens change while it runs (tests/screen-changes/display_test.sh
// starts Xorg's dummy driver with DUMMY0 at 1280x800 and a tray host):
//   a. calibrate by pen at 1280x800, change the mode to 1024x768: the pen
//      still lands where it is on the board, now shown at the new size;
//   b. a second screen (DUMMY1, 800x600) is added left of the board's: the
//      board's screen moves right, strokes still land on it;
//   c. the other screen is chosen in the tray's "Tahta ekranı" submenu:
//      the driver opens the calibration window on it;
//   d. that screen changes to 640x480 after the first target: the calibration
//      starts again on the new size; the pen calibrates and draws there;
//   e. that screen is switched off: the primary serves, strokes land on it.
// After each change the driver says one stderr line "oruDriver: board screen
// ..."; each step waits for it. Exit status 0 when every check passed.

// Qt (through the harness's headers) before Xlib's macros.
#include "harness/BoardModel.h"
#include "harness/CalibrationTargets.h"
#include "harness/DriverProcess.h"
#include "harness/PenSession.h"
#include "harness/TrackerTestbed.h"
#include "harness/TrayMenu.h"
#include "harness/Verdict.h"
#include "harness/WhiteboardCanvas.h"
#include "harness/XScreen.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace oru::harness;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kReportPeriod = std::chrono::microseconds(4000);  // 250 reports/s
// Limits of the demo (the calibration's shake and whole-unit distances).
constexpr double kRestLimitPx = 6, kPathLimitPx = 8;
constexpr const char* kBoardLinePrefix = "oruDriver: board screen ";

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

std::string text(const Rect& r)
{
    return std::to_string(r.width) + "x" + std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
           std::to_string(r.y);
}

std::string fixed(double value, int decimals = 1)
{
    char out[64];
    std::snprintf(out, sizeof out, "%.*f", decimals, value);
    return out;
}

struct Monitor {
    std::string name;
    Rect rect;
    bool primary = false;
};

/// The X server's monitors (RandR), as `xrandr --listmonitors` shows them:
/// " 0: +*DUMMY0 1024/271x768/203+800+0  DUMMY0".
std::vector<Monitor> monitors()
{
    std::vector<Monitor> found;
    FILE* pipe = ::popen("xrandr --listmonitors", "r");
    if (!pipe) return found;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char name[128] = {};
        int index = 0;
        Monitor m;
        if (std::sscanf(line, " %d: %127s %d/%*dx%d/%*d+%d+%d", &index, name, &m.rect.width, &m.rect.height, &m.rect.x,
                        &m.rect.y) != 6)
            continue;
        std::string n = name;
        m.primary = n.find('*') != std::string::npos;
        n.erase(0, n.find_first_not_of("+*"));
        m.name = n;
        found.push_back(m);
    }
    ::pclose(pipe);
    return found;
}

std::optional<Monitor> monitorNamed(const std::string& name)
{
    for (const Monitor& m : monitors())
        if (m.name == name) return m;
    return std::nullopt;
}

class DisplayScenario {
public:
    DisplayScenario(std::string driverPath, std::string outputDir)
        : driverPath_(std::move(driverPath)), outputDir_(std::move(outputDir))
    {
    }

    ~DisplayScenario()
    {
        dropLayout();
        driver_.reset();
    }

    int run()
    {
        try {
            steps();
        } catch (const std::exception& error) {
            check("the scenario went through to its end", false, error.what());
            try {
                shot("failed");
            } catch (const std::exception&) {
            }
        }
        return verdict_.write("display", outputDir_);
    }

private:
    void steps()
    {
        const auto first = monitorNamed("DUMMY0");
        if (!first || !first->primary) throw std::runtime_error("the X server has no primary DUMMY0 (Xorg's dummy driver)");
        useBoard(first->rect);
        note("X server: Xorg with the dummy video driver; DUMMY0 " + text(first->rect) + ", primary");
        pen_->withTrackerQuiet([&] { tracker_.plug(); });
        startDriver();

        // The first start at 1280x800: the calibration window on the whole screen.
        std::optional<XScreen::WindowInfo> window;
        const bool shown = waitFor([&] { return (window = view_->viewableWindow("CalibrationForm")).has_value(); }, 15s);
        check("calibration window opens at the first start", shown);
        if (!shown) return;
        check("calibration window covers DUMMY0 (" + text(board_) + ")", rectOf(*window) == board_, text(rectOf(*window)));
        check("driver opens the pen tracker", waitForNodeOpen(15s));
        if (!calibrate("calibration at 1280x800")) return;
        drawAndMeasure("strokes at 1280x800", "start-1280x800");

        // a. The resolution changes under the running driver.
        changeLayout("a: DUMMY0 changes to 1024x768", "--output DUMMY0 --mode 1024x768");
        const auto resized = monitorNamed("DUMMY0");
        if (!resized || resized->rect != Rect{0, 0, 1024, 768})
            throw std::runtime_error("xrandr did not set DUMMY0 to 1024x768+0+0");
        useBoard(resized->rect);
        drawAndMeasure("a: strokes at 1024x768 with the calibration made at 1280x800", "a-resolution-1024x768");

        // b. A second screen left of the board's: DUMMY0 moves right.
        run("xrandr --addmode DUMMY1 800x600");
        changeLayout("b: DUMMY1 (800x600) added left of DUMMY0", "--output DUMMY1 --mode 800x600 --left-of DUMMY0");
        const auto moved = monitorNamed("DUMMY0");
        const auto added = monitorNamed("DUMMY1");
        if (!moved || !added || moved->rect != Rect{800, 0, 1024, 768} || added->rect != Rect{0, 0, 800, 600})
            throw std::runtime_error("xrandr did not put DUMMY1 800x600 left of DUMMY0");
        useBoard(moved->rect);
        drawAndMeasure("b: strokes on DUMMY0, now at 1024x768+800+0", "b-second-screen-left");

        // c. The other screen chosen in the tray's submenu.
        chooseOtherScreen(added->rect);
    }

    // ------------------------------------------------------------ steps

    void startDriver()
    {
        if (!waitFor([&] { return view_->trayHostPresent(); }, 10s)) note("no tray host owned the system tray before the start");
        logPath_ = outputDir_ + "/driver.log";
        driver_ = std::make_unique<DriverProcess>(driverPath_, logPath_, outputDir_ + "/driver.pid");
    }

    /// Runs xrandr ARGS and waits for the driver's line about the board's
    /// screen.
    void changeLayout(const std::string& what, const std::string& args)
    {
        const int before = boardLines().size();
        const auto start = Clock::now();
        run("xrandr " + args);
        const bool said = waitFor([&] { return static_cast<int>(boardLines().size()) > before; }, 10s);
        const auto lines = boardLines();
        check(what + ": the driver says what changed", said,
              said ? "\"" + lines.back() + "\" after " + fixed(std::chrono::duration<double>(Clock::now() - start).count(), 2) + " s"
                   : "no \"" + std::string(kBoardLinePrefix) + "...\" line within 10 s");
        if (lines.size() > static_cast<std::size_t>(before) + 1)
            note(what + ": " + std::to_string(lines.size() - before) + " board screen lines for one change");
        check(what + ": no mouse button held after the change", !view_->pointer().anyButtonHeld());
    }

    /// Calibrates by pen on the board's screen; with targets < 4, stops once
    /// that many are accepted, leaving the window up.
    bool calibrate(const std::string& what, int targetCount = 4)
    {
        const auto targets = targetPoints(board_.width, board_.height);
        const auto onScreen = [&](PointD t) { return PointD{t.x + board_.x, t.y + board_.y}; };
        // Into range on the board's screen, wherever the last session left the pen.
        pen_->report(kPenUp, onScreen(targets[0]));
        for (int i = 0; i < targetCount; ++i) {
            const PointD target = onScreen(targets[i]);
            const bool shown = hoverUntilTargetShows(*pen_, *view_, target);
            if (!shown) {
                shot("calibration-target-missing");
                check(what + ": target " + std::to_string(i) + " shows at " + fixed(target.x, 0) + "," + fixed(target.y, 0),
                      false);
                return false;
            }
            const TargetPress press = pressUntilAccepted(*pen_, *view_, target);
            if (!press.accepted) {
                check(what + ": target " + std::to_string(i) + " accepted", false,
                      std::to_string(press.downReports) + " pen-down reports sent");
                return false;
            }
        }
        if (targetCount < 4) return true;
        const bool closed = waitFor([&] { return !view_->viewableWindow("CalibrationForm"); }, 5s);
        check(what + ": four targets accepted, window closed", closed);
        return closed;
    }

    /// A square with a rest at each corner and a circle, on the board's
    /// screen: the pointer must rest where the pen rests and follow its path.
    void drawAndMeasure(const std::string& what, const std::string& shotName)
    {
        canvas_ = std::make_unique<WhiteboardCanvas>(view_->display(), board_.x, board_.y + kTrayStripPx, board_.width,
                                                     board_.height - kTrayStripPx);
        pen_->setCanvas(canvas_.get());
        const double w = board_.width, h = board_.height, ox = board_.x, oy = board_.y;
        const double side = std::round(h * 0.35);
        const PointD a{ox + std::round(w * 0.15), oy + std::round(h * 0.25)};
        pen_->report(kPenUp, a);
        pen_->rest(kPenUp, 10);
        pen_->startMeasuring();
        if (pen_->largestRestErrorPx() > kRestLimitPx) {
            // Each rest would wait seconds for a pointer that isn't coming.
            check(what + ": pointer comes to the pen on the board's screen", false,
                  "still " + fixed(pen_->largestRestErrorPx()) + " px away after 5 s; no strokes drawn");
            shot(shotName);
            return;
        }
        pen_->drawSquare(a, side);
        const PointD centre{ox + std::round(w * 0.62), oy + std::round(h * 0.5)};
        const double radius = std::round(h * 0.2);
        pen_->drawCircle(centre, radius, 120, 15);
        pen_->stopMeasuring();
        waitFor(
            [&] {
                const auto& c = canvas_->counts();
                return c.leftPresses == 2 && c.leftReleases == 2 && !view_->pointer().anyButtonHeld();
            },
            5s);
        const auto& counts = canvas_->counts();
        check(what + ": pointer rests where the pen rests",
              pen_->largestRestErrorPx() <= kRestLimitPx,
              fixed(pen_->largestRestErrorPx()) + " px over " + std::to_string(pen_->restsMeasured()) + " rests (limit " +
                  fixed(kRestLimitPx, 0) + ")");
        check(what + ": pointer follows the pen's path", pen_->largestPathDistancePx() <= kPathLimitPx,
              fixed(pen_->largestPathDistancePx()) + " px (limit " + fixed(kPathLimitPx, 0) + ")");
        check(what + ": two strokes reach the canvas on the board's screen",
              counts.leftPresses == 2 && counts.leftReleases == 2,
              std::to_string(counts.leftPresses) + " presses, " + std::to_string(counts.leftReleases) + " releases");
        shot(shotName);
    }

    void chooseOtherScreen(const Rect& other)
    {
        const std::string what = "c: DUMMY1 chosen in \"Tahta ekranı\"";
        const int before = boardLines().size();
        std::string detail;
        if (!chooseInScreenSubmenu(detail)) {
            check(what, false, detail);
            return;
        }
        const bool said = waitFor([&] { return static_cast<int>(boardLines().size()) > before; }, 10s);
        check(what + ": the driver says what changed", said, said ? "\"" + boardLines().back() + "\"" : "no line within 10 s");
        // The board is now another picture: the driver starts a calibration on it.
        std::optional<XScreen::WindowInfo> window;
        waitFor([&] { return (window = view_->viewableWindow("CalibrationForm")).has_value(); }, 10s);
        check(what + ": calibration window opens", window.has_value());
        if (!window) return;
        shot("c-calibration-on-dummy1");
        check(what + ": calibration window covers DUMMY1 (" + text(other) + ")", rectOf(*window) == other,
              text(rectOf(*window)));
        useBoard(other);
        if (!calibrate(what + ", first target", 1)) return;

        // d. The board's screen changes mode in the middle of a calibration:
        // it starts again on the new size.
        run("xrandr --addmode DUMMY1 640x480");
        changeLayout("d: DUMMY1 changes to 640x480 during the calibration", "--output DUMMY1 --mode 640x480");
        const auto smaller = monitorNamed("DUMMY1");
        if (!smaller || smaller->rect != Rect{0, 0, 640, 480})
            throw std::runtime_error("xrandr did not set DUMMY1 to 640x480+0+0");
        useBoard(smaller->rect);
        window.reset();
        const bool again = waitFor(
            [&] { return (window = view_->viewableWindow("CalibrationForm")) && rectOf(*window) == board_; }, 10s);
        check("d: calibration window starts again on DUMMY1 (" + text(board_) + ")", again,
              window ? text(rectOf(*window)) : "no calibration window");
        if (!again) return;
        if (!calibrate("d: calibration at 640x480")) return;
        drawAndMeasure("d: strokes on DUMMY1 at 640x480", "d-strokes-on-dummy1-640x480");

        // e. The chosen screen goes away: the primary serves.
        changeLayout("e: DUMMY1 switched off", "--output DUMMY1 --off");
        const auto primary = monitorNamed("DUMMY0");
        if (!primary || monitorNamed("DUMMY1")) throw std::runtime_error("xrandr did not switch DUMMY1 off");
        note("e: DUMMY0 at " + text(primary->rect));
        useBoard(primary->rect);
        drawAndMeasure("e: strokes on DUMMY0 while the chosen DUMMY1 is gone", "e-chosen-screen-gone");
        driver_->stop();
        check("driver ends on SIGTERM with status 0", driver_->exitStatus() == 0,
              driver_->exitStatus() ? "exit status " + std::to_string(*driver_->exitStatus()) : "did not end");
    }

    // ------------------------------------------------------------ tray menu

    /// "Tahta ekranı" is the entry with a submenu arrow; its entries are the
    /// screens, "<name> (<W>x<H>)" with ", birincil" for the primary, and
    /// "Birincil ekran". By their texts' lengths: "Birincil ekran" is the
    /// shortest, the primary's the longest, DUMMY1's in between.
    bool chooseInScreenSubmenu(std::string& detail)
    {
        if (!pen_->handOff()) {
            detail = "the pointer did not show the pen's last reports handled before the hand took the mouse";
            return false;
        }
        TrayMenu tray(*view_, *pen_);
        const auto menu = tray.open(TrayMenu::settledWith(3), detail);
        if (!menu) {
            shot("menu-failed");
            return false;
        }
        shot("c-tray-menu");
        int withArrow = -1;
        for (std::size_t i = 0; i < menu->picture.lines.size(); ++i)
            if (menu->picture.lines[i].marksAtRightEnd > 0 &&
                (withArrow < 0 || menu->picture.lines[i].marksAtRightEnd > menu->picture.lines[withArrow].marksAtRightEnd))
                withArrow = static_cast<int>(i);
        if (withArrow < 0) {
            detail = "no entry of the tray menu (" + std::to_string(menu->picture.lines.size()) +
                     " entries) shows a submenu's arrow";
            return false;
        }
        note("c: tray menu with " + std::to_string(menu->picture.lines.size()) + " entries; the submenu is entry " +
             std::to_string(withArrow));
        const auto submenu = tray.openSubmenu(*menu, withArrow, TrayMenu::settledWith(2), detail);
        if (!submenu) {
            shot("menu-failed");
            return false;
        }
        shot("c-screen-submenu");
        const auto& lines = submenu->picture.lines;
        note("c: submenu with " + std::to_string(lines.size()) + " entries at " + std::to_string(submenu->window.x) +
             "," + std::to_string(submenu->window.y));
        if (lines.size() != 3) {
            detail = "the submenu shows " + std::to_string(lines.size()) +
                     " entries, expected 3 (DUMMY0 (1024x768, birincil), DUMMY1 (800x600), Birincil ekran)";
            return false;
        }
        std::vector<int> order{0, 1, 2};
        std::sort(order.begin(), order.end(), [&](int a, int b) { return lines[a].rightmostMark < lines[b].rightmostMark; });
        const int pick = order[1];
        if (!tray.hover(*submenu, pick)) {
            detail = "the submenu's entry " + std::to_string(pick) + " was not highlighted under the pointer";
            return false;
        }
        if (!tray.clickAndWaitClosed(*submenu)) {
            detail = "the submenu stayed open after the click";
            return false;
        }
        tray.waitClosed(*menu, 5s);
        return true;
    }

    // ------------------------------------------------------------ helpers

    /// Starts over on the present layout with the board shown on `board`:
    /// a fresh view of the root window (its size changes), the board model
    /// for that screen, and a pen session measuring in its pixels.
    void useBoard(const Rect& board)
    {
        dropLayout();
        board_ = board;
        view_ = std::make_unique<XScreen>();
        model_ = std::make_unique<BoardModel>(board.width, board.height, board.x, board.y);
        pen_ = std::make_unique<PenSession>(tracker_, *view_, *model_, kReportPeriod);
        pen_->setRestLimit(kRestLimitPx);
    }

    void dropLayout()
    {
        if (pen_) pen_->setCanvas(nullptr);
        canvas_.reset();
        pen_.reset();
        model_.reset();
        view_.reset();
    }

    std::vector<std::string> boardLines() const
    {
        std::vector<std::string> lines;
        std::ifstream log(logPath_);
        for (std::string line; std::getline(log, line);)
            if (line.rfind(kBoardLinePrefix, 0) == 0) lines.push_back(line);
        return lines;
    }

    static Rect rectOf(const XScreen::WindowInfo& w) { return {w.x, w.y, w.width, w.height}; }

    void run(const std::string& command)
    {
        const int status = std::system(command.c_str());
        if (status != 0) throw std::runtime_error("\"" + command + "\" failed (status " + std::to_string(status) + ")");
    }

    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
    {
        return poll(
            [&] {
                if (done()) return true;
                if (driver_ && !driver_->running())
                    throw std::runtime_error(
                        "the driver ended unexpectedly (exit status " + std::to_string(driver_->exitStatus().value_or(-1)) +
                        driver_->secondInstanceNote() + ")");
                return false;
            },
            timeout);
    }

    bool poll(const std::function<bool()>& done, std::chrono::milliseconds timeout)
    {
        return pen_->idleUntil(done, timeout);
    }

    bool waitForNodeOpen(std::chrono::milliseconds timeout)
    {
        return waitFor(
            [&] { return tracker_.openedBy(driver_->pid()) && (pen_->idle(60ms), tracker_.openedBy(driver_->pid())); },
            timeout);
    }

    void shot(const std::string& name)
    {
        // The whole root window as it is now, whatever its size was at the
        // last change.
        XScreen().screenshot(outputDir_ + "/" + name + ".png");
        verdict_.shot(name + ".png");
    }

    void check(const std::string& what, bool passed, const std::string& detail = {})
    {
        verdict_.check(what, passed, detail);
    }
    void note(const std::string& line) { verdict_.note(line); }

    std::string driverPath_;
    std::string outputDir_;
    std::string logPath_;
    TrackerTestbed tracker_;
    Rect board_;
    std::unique_ptr<XScreen> view_;
    std::unique_ptr<BoardModel> model_;
    std::unique_ptr<PenSession> pen_;
    std::unique_ptr<WhiteboardCanvas> canvas_;
    std::unique_ptr<DriverProcess> driver_;
    Verdict verdict_{true};  // each check and note printed as it comes
};

/// The driver sees the test bed's devices through libumockdev-preload, which
/// must be loaded from the start: this program restarts itself behind it.
void restartBehindPreload(char** argv)
{
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::string(preload).find("libumockdev-preload") != std::string::npos) return;
    const std::string value =
        preload && *preload ? std::string("libumockdev-preload.so.0:") + preload : "libumockdev-preload.so.0";
    ::setenv("LD_PRELOAD", value.c_str(), 1);
    if (!std::getenv("ASAN_OPTIONS")) ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    ::execv("/proc/self/exe", argv);
    std::perror("oru-display-scenario: cannot restart behind libumockdev-preload");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: oru-display-scenario DRIVER OUTPUT_DIR\n"
                             "Needs DISPLAY: Xorg with the dummy video driver (DUMMY0 primary at 1280x800), a tray host\n"
                             "and an empty per-user store; tests/screen-changes/display_test.sh sets that up.\n");
        return 2;
    }
    restartBehindPreload(argv);
    installStopHandlers();
    std::filesystem::create_directories(argv[2]);
    return DisplayScenario(argv[1], argv[2]).run();
}
