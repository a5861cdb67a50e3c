// oru-uinput-scenario: the uinput pointer against a real kernel, as root in
// the test guest (tests/kernel/guest-uinput.sh sets up the udev rules first).
//   backend   the device it makes: its evdev capabilities and IDs, how udev
//             classifies it (an absolute mouse), what libinput makes of a
//             placement and a click, re-creation with new ranges, nothing
//             left behind at the end
//   driver    oru-driver --pointer uinput (Qt offscreen, two screens) as the test
//             user with a stored calibration and the uhid pen tracker: a
//             scripted pen sequence gives on evdev exactly the ABS_X/ABS_Y
//             values and button events oru-replay predicts for the same
//             reports, each frame ending in SYN_REPORT; the time from report
//             to evdev event; no device left after SIGTERM or SIGKILL; a user
//             the node isn't given to gets the message and a running driver
//
//   oru-uinput-scenario --driver PATH --replay PATH --user UID --home DIR --log FILE
//
// Prints one line per check ("ok ..." or "FAILED ...") and the times it saw;
// exit status 0 when every check passed.

#include "harness/DriverProcess.h"
#include "kernel/UhidTracker.h"
#include "platform/linux/UinputPointerOutput.h"

#include <linux/input.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using oru::emulated::UhidTracker;
using oru::harness::DriverLaunch;
using oru::harness::launchAsUser;
using oru::harness::DriverProcess;
using oru::harness::prepareUserHome;

// Generous limits: the guest may run without hardware virtualisation.
constexpr auto kStartLimit = 120s;
constexpr auto kEventLimit = 20s;
// The driver's desktop on Qt's offscreen platform (a screen file): the
// board's screen, 800x600, is the primary one, right of a 1024x768 screen;
// the bounding box is 1824x768.
constexpr int kScreenWidthPx = 800;
constexpr int kScreenHeightPx = 600;
constexpr int kScreenOriginXPx = 1024;
constexpr int kBoxWidthPx = 1824;
constexpr int kBoxHeightPx = 768;
constexpr const char* kScreensJson =
    R"({"synchronousWindowSystemEvents": false, "windowFrameMargins": false, "screens": [)"
    R"({"name": "board", "x": 1024, "y": 0, "width": 800, "height": 600, "logicalDpi": 96, "dpr": 1},)"
    R"({"name": "laptop", "x": 0, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96, "dpr": 1}]})";
constexpr auto kReportSpacing = 20ms;

struct Options {
    std::string driver;
    std::string replay;
    uid_t uid = 0;
    std::string home;
    std::string log;
};

bool waitFor(const std::function<bool()>& done, Clock::duration timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

double monotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

std::string shell(const std::string& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
        ::pclose(pipe);
    }
    return out;
}

// --- the virtual pointer's evdev node

/// The event nodes of every input device named "oruDriver pen".
std::vector<std::string> pointerNodes()
{
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/input", error)) {
        const std::string name = entry.path().filename();
        if (name.rfind("event", 0) != 0) continue;
        std::ifstream file(entry.path() / "device" / "name");
        std::string deviceName;
        std::getline(file, deviceName);
        if (deviceName == oru::kUinputDeviceName) nodes.push_back("/dev/input/" + name);
    }
    return nodes;
}

/// Waits for exactly one such node that can be opened; its path, or empty.
std::string waitForPointerNode()
{
    std::string node;
    waitFor(
        [&] {
            const auto nodes = pointerNodes();
            if (nodes.size() != 1 || ::access(nodes.front().c_str(), R_OK) != 0) return false;
            node = nodes.front();
            return true;
        },
        kEventLimit);
    return node;
}

bool bit(const unsigned long* bits, int n)
{
    constexpr int kBits = 8 * sizeof(unsigned long);
    return (bits[n / kBits] >> (n % kBits)) & 1UL;
}

/// What the kernel says the device is: "id BUS:VENDOR:PRODUCT name 'N'
/// types T... keys K... abs CODE MIN..MAX res R ... props P...".
std::string capabilities(int fd)
{
    std::ostringstream out;
    input_id id{};
    ::ioctl(fd, EVIOCGID, &id);
    char name[256] = {};
    ::ioctl(fd, EVIOCGNAME(sizeof name - 1), name);
    char ids[32];
    std::snprintf(ids, sizeof ids, "%02x:%04x:%04x", id.bustype, id.vendor, id.product);
    out << "id " << ids << " name '" << name << "'";
    unsigned long types[EV_MAX / (8 * sizeof(unsigned long)) + 1] = {};
    ::ioctl(fd, EVIOCGBIT(0, sizeof types), types);
    out << " types";
    for (int type = 0; type <= EV_MAX; ++type)
        if (bit(types, type)) out << ' ' << type;
    unsigned long keys[KEY_MAX / (8 * sizeof(unsigned long)) + 1] = {};
    ::ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys);
    out << " keys";
    for (int key = 0; key <= KEY_MAX; ++key)
        if (bit(keys, key)) out << ' ' << key;
    unsigned long axes[ABS_MAX / (8 * sizeof(unsigned long)) + 1] = {};
    ::ioctl(fd, EVIOCGBIT(EV_ABS, sizeof axes), axes);
    out << " abs";
    for (int axis = 0; axis <= ABS_MAX; ++axis) {
        if (!bit(axes, axis)) continue;
        input_absinfo info{};
        ::ioctl(fd, EVIOCGABS(axis), &info);
        out << ' ' << axis << ' ' << info.minimum << ".." << info.maximum << " res " << info.resolution;
    }
    unsigned long props[INPUT_PROP_MAX / (8 * sizeof(unsigned long)) + 1] = {};
    ::ioctl(fd, EVIOCGPROP(sizeof props), props);
    out << " props";
    for (int prop = 0; prop <= INPUT_PROP_MAX; ++prop)
        if (bit(props, prop)) out << ' ' << prop;
    return out.str();
}

std::string expectedCapabilities(int widthPx, int heightPx)
{
    std::ostringstream out;
    out << "id 06:0020:0002 name 'oruDriver pen' types " << EV_SYN << ' ' << EV_KEY << ' ' << EV_ABS << " keys "
        << BTN_LEFT << ' ' << BTN_RIGHT << " abs " << ABS_X << " 0.." << widthPx - 1 << " res 4 " << ABS_Y << " 0.."
        << heightPx - 1 << " res 4 props";
    return out.str();
}

/// One evdev event as a line ("ABS_X 120", "BTN_LEFT 1", "SYN_REPORT") and
/// its kernel time (CLOCK_MONOTONIC, ms).
struct Seen {
    std::string line;
    double timeMs;
};

std::string eventLine(const input_event& event)
{
    if (event.type == EV_SYN && event.code == SYN_REPORT) return "SYN_REPORT";
    std::string name = std::to_string(event.type) + ":" + std::to_string(event.code);
    if (event.type == EV_ABS && event.code == ABS_X) name = "ABS_X";
    if (event.type == EV_ABS && event.code == ABS_Y) name = "ABS_Y";
    if (event.type == EV_KEY && event.code == BTN_LEFT) name = "BTN_LEFT";
    if (event.type == EV_KEY && event.code == BTN_RIGHT) name = "BTN_RIGHT";
    return name + " " + std::to_string(event.value);
}

/// A reader of one event node, its times on CLOCK_MONOTONIC.
class EventReader {
public:
    explicit EventReader(const std::string& node) : fd_(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        if (fd_ < 0) throw std::runtime_error("cannot open " + node + ": " + std::strerror(errno));
        int clock = CLOCK_MONOTONIC;
        ::ioctl(fd_, EVIOCSCLOCKID, &clock);
    }
    ~EventReader() { ::close(fd_); }
    int fd() const { return fd_; }

    /// Reads until count events have come or the time is up.
    std::vector<Seen> read(std::size_t count, Clock::duration timeout)
    {
        std::vector<Seen> seen;
        const auto deadline = Clock::now() + timeout;
        while (seen.size() < count && Clock::now() < deadline) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            input_event event{};
            while (::read(fd_, &event, sizeof event) == sizeof event) {
                seen.push_back({eventLine(event), event.input_event_sec * 1e3 + event.input_event_usec / 1e3});
            }
        }
        return seen;
    }

private:
    int fd_;
};

// --- the driver, as the test user

/// The driver with --pointer uinput on Qt's offscreen platform, started as
/// the test user, with its output in log.
std::unique_ptr<DriverProcess> startDriver(const Options& options, const std::string& log)
{
    prepareUserHome(options.home, options.uid);
    const std::string screens = options.home + "/screens.json";
    std::ofstream(screens) << kScreensJson;
    std::vector<std::string> env = {"HOME=" + options.home, "XDG_RUNTIME_DIR=" + options.home + "/runtime",
                                    "XDG_CONFIG_HOME=" + options.home + "/config",
                                    "QT_QPA_PLATFORM=offscreen:configfile=" + screens,
                                    "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent", "PATH=/usr/bin:/bin",
                                    "LANG=C.UTF-8"};
    DriverLaunch launch = launchAsUser(options.driver, log, options.uid, env);
    launch.arguments = {"--pointer", "uinput"};
    return std::make_unique<DriverProcess>(launch);
}

std::string fileText(const std::string& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// --- the scripted pen and what oru-replay predicts for it

/// The board in report units for a screen point, px: an affine map that
/// keeps the whole screen below the receivers, which sit 634 units apart.
struct Board {
    static double x(double sx) { return 2 * sx - 1000; }
    static double y(double sy) { return -100 - 2 * sy; }
};

struct PenStep {
    int state;
    double x, y;  // screen px
};

/// Hover, tip down, a drag, tip up, a right click elsewhere, a hover beyond
/// the board screen's bottom-right corner until the average gets there
/// (clipped to the box), one report each 20 ms.
std::vector<PenStep> penScript()
{
    std::vector<PenStep> steps;
    const auto rest = [&](int state, double x, double y, int n) {
        for (int i = 0; i < n; ++i) steps.push_back({state, x, y});
    };
    rest(0, 200, 150, 3);
    rest(1, 200, 150, 3);
    for (int i = 1; i <= 10; ++i) steps.push_back({1, 200 + 20.0 * i, 150 + 15.0 * i});
    rest(1, 400, 300, 2);
    rest(0, 400, 300, 3);
    rest(0, 600, 450, 2);
    rest(2, 600, 450, 3);
    rest(0, 600, 450, 3);
    rest(0, 1000, 800, 12);
    return steps;
}

std::array<std::string, 8> calibrationTexts()
{
    // Targets 10 % in from each edge (halves to even, as the driver places
    // them) and where the board sees them: Edit1..Edit8 are x and y of
    // targets 0..3 in turn.
    const long double inset = 0.1f, w = kScreenWidthPx, h = kScreenHeightPx;
    const auto place = [](long double v) { return static_cast<double>(std::nearbyint(v)); };
    const std::array<std::pair<double, double>, 4> targets = {{{place(w * inset), place(h * inset)},
                                                              {place(w * (1 - inset)), place(h * inset)},
                                                              {place(w * inset), place(h * (1 - inset))},
                                                              {place(w * (1 - inset)), place(h * (1 - inset))}}};
    std::array<std::string, 8> texts;
    for (int k = 0; k < 4; ++k) {
        texts[2 * k] = std::to_string(std::lround(Board::x(targets[k].first)));
        texts[2 * k + 1] = std::to_string(std::lround(Board::y(targets[k].second)));
    }
    return texts;
}

/// One expected evdev frame: its events (SYN_REPORT last) and the report
/// that caused it.
struct Frame {
    std::vector<std::string> lines;
    std::size_t report;
};

/// oru-replay's lines for the script, turned into the frames evdev shows:
/// the kernel drops an axis value or a button state that has not changed,
/// and a frame with nothing left in it.
std::vector<Frame> predictedFrames(const std::string& replayOutput, const std::vector<double>& reportTimesMs)
{
    std::vector<Frame> frames;
    int x = 0, y = 0;  // the device starts at its minimum
    std::map<std::string, int> buttons;
    std::istringstream lines(replayOutput);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        double timeMs = 0;
        std::string what;
        words >> timeMs >> what;
        std::size_t report = 0;
        while (report + 1 < reportTimesMs.size() && reportTimesMs[report + 1] <= timeMs) ++report;
        Frame frame{{}, report};
        if (what == "cursor") {
            int cx = 0, cy = 0;
            words >> cx >> cy;
            cx = std::clamp(cx + kScreenOriginXPx, 0, kBoxWidthPx - 1);
            cy = std::clamp(cy, 0, kBoxHeightPx - 1);
            if (cx != x) frame.lines.push_back("ABS_X " + std::to_string(cx));
            if (cy != y) frame.lines.push_back("ABS_Y " + std::to_string(cy));
            x = cx;
            y = cy;
        } else if (what == "down" || what == "up") {
            std::string button;
            words >> button;
            const std::string code = button == "left" ? "BTN_LEFT" : "BTN_RIGHT";
            const int value = what == "down" ? 1 : 0;
            if (buttons[code] != value) frame.lines.push_back(code + " " + std::to_string(value));
            buttons[code] = value;
        }
        if (frame.lines.empty()) continue;
        frame.lines.push_back("SYN_REPORT");
        frames.push_back(frame);
    }
    return frames;
}

// --- the scenario

class Scenario {
public:
    explicit Scenario(Options options) : options_(std::move(options)) {}

    int run()
    {
        for (const auto& [name, part] : {std::pair<const char*, void (Scenario::*)()>{"backend", &Scenario::backend},
                                         {"driver", &Scenario::driver},
                                         {"no access", &Scenario::noAccess}}) {
            try {
                (this->*part)();
            } catch (const std::exception& error) {
                check(std::string(name) + ": ran to its end", false, error.what());
            }
        }
        std::printf("%d checks, %d failed\n", checks_, failures_);
        return failures_ == 0 ? 0 : 1;
    }

private:
    void backend()
    {
        oru::DesktopBox box{0, 0, 1280, 800, 4, {}};
        auto pointer = oru::UinputPointerOutput::open("/dev/uinput", oru::PointerSpan::Desktop);
        pointer->recreate(box);
        std::string node = waitForPointerNode();
        if (!check("backend: one event node named 'oruDriver pen'", !node.empty())) return;
        {
            EventReader reader(node);
            check("backend: evdev capabilities", capabilities(reader.fd()) == expectedCapabilities(1280, 800),
                  capabilities(reader.fd()));
        }
        shell("udevadm settle --timeout=30");
        const std::string properties = shell("udevadm info --query=property --name=" + node);
        check("backend: udev classifies it as a mouse with absolute axes",
              properties.find("ID_INPUT_MOUSE=1") != std::string::npos &&
                  properties.find("ID_INPUT_TOUCHSCREEN") == std::string::npos &&
                  properties.find("ID_INPUT_TABLET") == std::string::npos &&
                  properties.find("ID_INPUT_JOYSTICK") == std::string::npos,
              oneLine(properties));
        libinputSees(*pointer, node);

        // Re-creation with a bounding box of two screens: a new node with the
        // new ranges, the old one gone.
        const std::string sysfsBefore = std::filesystem::canonical("/sys/class/input/" + node.substr(11)).string();
        pointer->recreate({0, 0, 3200, 1080, 4, {}});
        const bool oldGone = waitFor([&] { return !std::filesystem::exists(sysfsBefore); }, kEventLimit);
        node = waitForPointerNode();
        check("re-creation: the old device is gone and one new one is there", oldGone && !node.empty(), node);
        if (!node.empty()) {
            EventReader reader(node);
            check("re-creation: the new ranges cover the new box",
                  capabilities(reader.fd()) == expectedCapabilities(3200, 1080), capabilities(reader.fd()));
            pointer->setOrigin(1920, 0);
            pointer->setCursorPos(1279, 1079);
            pointer->setCursorPos(5000, -5);
            const auto seen = reader.read(6, kEventLimit);
            check("re-creation: placements land in the new box, clipped",
                  lines(seen) == std::vector<std::string>{"ABS_X 3199", "ABS_Y 1079", "SYN_REPORT", "ABS_Y 0",
                                                          "SYN_REPORT"},
                  joined(lines(seen)));
        }
        // Bound to one output (weston): the shipped rule hands the output's
        // name, the device's phys, to the compositor as WL_OUTPUT.
        pointer->recreate({0, 0, 1024, 768, 4, "Virtual-2"});
        node = waitForPointerNode();
        shell("udevadm settle --timeout=30");
        const std::string bound = node.empty() ? "" : shell("udevadm info --query=property --name=" + node);
        check("binding: udev gives the device WL_OUTPUT=Virtual-2",
              bound.find("WL_OUTPUT=Virtual-2\n") != std::string::npos, oneLine(bound));
        pointer.reset();
        check("backend: no device left after its end", waitFor([] { return pointerNodes().empty(); }, kEventLimit));
    }

    /// What libinput, which every compositor reads devices through, makes of
    /// a placement in the middle of the box and a left click.
    void libinputSees(oru::UinputPointerOutput& pointer, const std::string& node)
    {
        if (shell("command -v libinput").empty()) {
            std::printf("skipped: libinput's view (install libinput-tools)\n");
            return;
        }
        const std::string out = "/tmp/oru-libinput.txt";
        std::remove(out.c_str());
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
            ::execlp("libinput", "libinput", "debug-events", "--device", node.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const bool ready = waitFor([&] { return fileText(out).find("DEVICE_ADDED") != std::string::npos; }, kEventLimit);
        pointer.setCursorPos(640, 200);
        pointer.mouseEvent(oru::MouseButtonEvent::LeftDown, 640, 200);
        pointer.mouseEvent(oru::MouseButtonEvent::LeftUp, 640, 200);
        const bool released =
            waitFor([&] { return fileText(out).find("released") != std::string::npos; }, kEventLimit);
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        const std::string text = fileText(out);
        // libinput prints absolute positions in percent of the range: 640 of
        // 0..1279 is 50 %, 200 of 0..799 is 25 %.
        check("libinput: an absolute pointer, placed and clicked",
              ready && released && text.find("POINTER_MOTION_ABSOLUTE") != std::string::npos &&
                  text.find("50.00/ 25.00") != std::string::npos &&
                  text.find("BTN_LEFT (272) pressed") != std::string::npos &&
                  text.find("BTN_LEFT (272) released") != std::string::npos,
              oneLine(text));
    }

    void writeStoredCalibration()
    {
        const std::string dir = options_.home + "/config/oruDriver";
        std::filesystem::create_directories(dir);
        std::ofstream store(dir + "/store.conf");
        store << "[Software\\oruDriver]\n";
        const auto texts = calibrationTexts();
        for (int i = 0; i < 8; ++i) store << "\"Edit" << i + 1 << "_Text\" = text \"" << texts[i] << "\"\n";
        store.close();
        for (const auto& path : {options_.home + "/config", dir, dir + "/store.conf"})
            if (::chown(path.c_str(), options_.uid, options_.uid) != 0)
                throw std::runtime_error("cannot give " + path + " to the test user");
        ::chmod((dir + "/store.conf").c_str(), 0600);
        ::chmod(dir.c_str(), 0700);
    }

    void driver()
    {
        std::filesystem::create_directories(options_.home);
        writeStoredCalibration();
        auto tracker = std::make_unique<UhidTracker>();
        const auto started = Clock::now();
        const auto driver = startDriver(options_, options_.log);
        const std::string node = waitForPointerNode();
        if (!check("driver: makes its pointer", !node.empty(), fileText(options_.log))) return;
        std::printf("time: pointer device there %.2f s after the driver's start\n",
                    std::chrono::duration<double>(Clock::now() - started).count());
        EventReader reader(node);
        check("driver: pointer ranges cover both screens",
              capabilities(reader.fd()) == expectedCapabilities(kBoxWidthPx, kBoxHeightPx),
              capabilities(reader.fd()));
        if (!check("driver: opens the pen tracker", tracker->waitOpen(true, kStartLimit), fileText(options_.log)))
            return;

        // The script, sent in real time, and the same reports for oru-replay.
        const auto steps = penScript();
        const auto texts = calibrationTexts();
        std::ostringstream replay;
        replay << "screen " << kScreenWidthPx << ' ' << kScreenHeightPx << "\ncalibration";
        for (const auto& text : texts) replay << ' ' << text;
        replay << '\n';
        std::vector<double> sentMs, scriptMs;
        auto next = Clock::now();
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const auto report = oru::emulated::reportAt(steps[i].state, Board::x(steps[i].x), Board::y(steps[i].y));
            std::this_thread::sleep_until(next);
            next += kReportSpacing;
            sentMs.push_back(monotonicMs());
            if (!tracker->send(report)) throw std::runtime_error("the kernel refused a report");
            scriptMs.push_back(std::chrono::duration<double, std::milli>(kReportSpacing).count() * i);
            replay << "report " << scriptMs.back();
            for (const auto byte : report) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02X", byte);
                replay << hex;
            }
            replay << '\n';
        }
        const std::string script = options_.home + "/pen.replay";
        std::ofstream(script) << replay.str();
        const std::string predicted = shell(options_.replay + " " + script);
        const auto frames = predictedFrames(predicted, scriptMs);
        std::size_t expectedEvents = 0;
        std::vector<std::string> expected;
        for (const auto& frame : frames) {
            expectedEvents += frame.lines.size();
            expected.insert(expected.end(), frame.lines.begin(), frame.lines.end());
        }
        const auto seen = reader.read(expectedEvents, kEventLimit);
        const bool same = lines(seen) == expected;
        check("driver: evdev shows exactly what oru-replay predicts, " + std::to_string(frames.size()) + " frames",
              same, "expected: " + joined(expected) + " | seen: " + joined(lines(seen)));
        std::printf("events: %s\n", joined(lines(seen)).c_str());
        if (same) latencies(frames, seen, sentMs);

        const int status = driver->endWith(SIGTERM, 15000);
        check("driver: SIGTERM ends it with status 0", status == 0, "status " + std::to_string(status));
        check("driver: no device left after SIGTERM", waitFor([] { return pointerNodes().empty(); }, kEventLimit));

        const auto killed = startDriver(options_, options_.log + ".kill");
        check("driver: makes its pointer again", !waitForPointerNode().empty());
        killed->endWith(SIGKILL, 15000);
        check("driver: no device left after SIGKILL", waitFor([] { return pointerNodes().empty(); }, kEventLimit));
    }

    /// Report to evdev event: from each report's send to the first event of
    /// the frames it caused, both on CLOCK_MONOTONIC.
    void latencies(const std::vector<Frame>& frames, const std::vector<Seen>& seen, const std::vector<double>& sentMs)
    {
        std::vector<double> ms;
        std::size_t at = 0;
        std::optional<std::size_t> lastReport;
        for (const auto& frame : frames) {
            if (frame.report != lastReport) ms.push_back(seen[at].timeMs - sentMs[frame.report]);
            lastReport = frame.report;
            at += frame.lines.size();
        }
        std::sort(ms.begin(), ms.end());
        if (ms.empty()) return;
        std::printf("time: report to evdev event over %zu reports: min %.2f ms, median %.2f ms, max %.2f ms\n",
                    ms.size(), ms.front(), ms[ms.size() / 2], ms.back());
    }

    void noAccess()
    {
        // As before the rule: root's alone.
        struct stat before {};
        ::stat("/dev/uinput", &before);
        ::chown("/dev/uinput", 0, 0);
        ::chmod("/dev/uinput", 0600);
        shell("setfacl -b /dev/uinput 2>/dev/null");
        {
            const auto driver = startDriver(options_, options_.log + ".noaccess");
            const std::string log = options_.log + ".noaccess";
            const bool told =
                waitFor([&] { return fileText(log).find(oru::kUinputUdevRule) != std::string::npos; }, kStartLimit);
            check("no access: stderr names the rule", told, fileText(log));
            check("no access: the driver keeps running", driver->running());
            const int status = driver->endWith(SIGTERM, 15000);
            check("no access: SIGTERM ends it with status 0", status == 0, "status " + std::to_string(status));
            std::printf("no access: the driver said:\n%s", fileText(log).c_str());
        }
        ::chown("/dev/uinput", before.st_uid, before.st_gid);
        ::chmod("/dev/uinput", before.st_mode & 07777);
    }

    static std::vector<std::string> lines(const std::vector<Seen>& seen)
    {
        std::vector<std::string> out;
        for (const auto& s : seen) out.push_back(s.line);
        return out;
    }
    static std::string joined(const std::vector<std::string>& lines)
    {
        std::string out;
        for (const auto& line : lines) out += (out.empty() ? "" : ", ") + line;
        return out;
    }
    static std::string oneLine(std::string text)
    {
        std::replace(text.begin(), text.end(), '\n', ' ');
        return text;
    }

    bool check(const std::string& what, bool passed, const std::string& detail = {})
    {
        ++checks_;
        if (!passed) ++failures_;
        std::printf("%s %s%s\n", passed ? "ok" : "FAILED", what.c_str(),
                    passed || detail.empty() ? "" : (" (" + detail + ")").c_str());
        std::fflush(stdout);
        return passed;
    }

    Options options_;
    int checks_ = 0;
    int failures_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--driver") options.driver = value;
        else if (name == "--replay") options.replay = value;
        else if (name == "--user") options.uid = static_cast<uid_t>(std::stoul(value));
        else if (name == "--home") options.home = value;
        else if (name == "--log") options.log = value;
        else {
            std::fprintf(stderr, "oru-uinput-scenario: unknown option %s\n", name.c_str());
            return 2;
        }
    }
    if (options.driver.empty() || options.replay.empty() || options.uid == 0 || options.home.empty() ||
        options.log.empty()) {
        std::fprintf(stderr, "usage: oru-uinput-scenario --driver PATH --replay PATH --user UID --home DIR --log FILE\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    return Scenario(std::move(options)).run();
}
