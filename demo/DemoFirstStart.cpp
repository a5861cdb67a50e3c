// Phase "first": the first start with an empty store, calibrated by the pen.

#include "DemoRunParts.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <strings.h>

namespace oru::demo {

using namespace std::chrono_literals;

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
    checkCoversTheScreen(*window);
    const bool opened = waitForNodeOpen(15s);
    check("driver opens the pen tracker", opened);
    if (!opened) return;
    note("pen tracker opened by the driver after " + fixed(secondsSinceStart(), 2) + " s");

    calibrate(true);

    openCanvas();
    drawStrokes();
    quitThroughMenu();
    checkStoredCalibration();
}

void DemoRun::checkCoversTheScreen(XScreen::WindowInfo window)
{
    // Over the whole screen, a desktop's panels included, once a window
    // manager has placed it.
    const auto covers = [&] {
        if (const auto now = screen_.viewableWindow("CalibrationForm")) window = *now;
        return window.x == 0 && window.y == 0 && window.width == screen_.width() && window.height == screen_.height();
    };
    check("calibration window covers the screen", waitFor(covers, 3s),
          std::to_string(window.width) + "x" + std::to_string(window.height) + " at " + std::to_string(window.x) +
              "," + std::to_string(window.y));
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

} // namespace oru::demo
