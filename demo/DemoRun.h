#pragma once

#include "harness/BoardModel.h"
#include "harness/CalibrationTargets.h"
#include "harness/DriverProcess.h"
#include "harness/PenSession.h"
#include "harness/TrackerTestbed.h"
#include "harness/TrayMenu.h"
#include "harness/Verdict.h"
#include "harness/WhiteboardCanvas.h"
#include "harness/XScreen.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oru::demo {

// The demo is the harness's first user and speaks its terms throughout.
using namespace oru::harness;

struct DemoOptions {
    std::string driverPath;
    std::string outputDir;
    std::string phase = "first";  // first | again | endurance
    bool replug = false;
    bool recalibrate = false;  // again: "Kalibre" from the tray menu, then draw again
    bool endBySignal = false;  // again: SIGTERM while the pen holds the button, not the menu
    bool quiet = false;
    double enduranceSeconds = 3600;
    int reportsPerSecond = 0;  // 0: the phase's own rate
    double replugEverySeconds = 60;
    // Limits of the verdict. The calibration keeps one shaky reading per
    // target (the pen shakes by 2 units) and distances come in whole units,
    // which far from the receivers makes up to about 2.3 units per axis:
    // together up to about 4 px at a corner of the screen, before rounding.
    double restLimitPx = 6;
    // Board units the hand shakes the pen by on a calibration target.
    int calibrationShakeUnits = kHandShakeUnits;
    double pathLimitPx = 8;
};

/// Runs one phase against the real driver and prints what happened.
class DemoRun {
public:
    explicit DemoRun(DemoOptions options);
    ~DemoRun();

    /// Returns the process exit status: 0 when every check passed.
    int run();

private:
    // One file each: DemoFirstStart.cpp, DemoAgain.cpp, DemoEndurance.cpp;
    // the steps more than one of them takes are in DemoSteps.cpp.
    void runFirstStart();
    void runAgain();
    void runEndurance();

    void startDriver();
    /// The whiteboard canvas below the tray strip, served by the pen's waits;
    /// ink false: count only (long runs).
    void openCanvas(bool ink = true);
    void calibrate(bool firstStart);
    void drawStrokes(const std::string& shotName = "strokes");
    void drawThroughReplug();
    /// Entries of the tray menu, top to bottom.
    enum class MenuEntry { Calibrate, BoardScreen, About, Quit };
    /// As a user does it: a right press on the tray square, then a click on
    /// the entry where the menu shows it. False, with what went wrong in
    /// detail, when that could not be done.
    bool chooseFromTrayMenu(MenuEntry entry, const std::string& shotName, std::string& detail);
    void quitThroughMenu();
    void recalibrateThroughMenu();
    void terminateWhileDrawing();
    void checkStoredCalibration();
    void checkCoversTheScreen(XScreen::WindowInfo window);

    TrayLook trayLook() const;
    /// Polls until done() holds, at most timeout; the driver must keep running.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    /// The same for waits the driver may end in (the pen out of range).
    bool poll(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    bool waitForTray(TrayColour colour, std::chrono::milliseconds timeout);
    bool waitForNodeOpen(std::chrono::milliseconds timeout);
    /// No button held on the X pointer, and a release on the canvas for every
    /// left press.
    bool leftButtonLetGo() const;
    void shot(const std::string& name);
    void shotTray(const std::string& name);
    double secondsSinceStart() const;

    void check(const std::string& what, bool passed, const std::string& detail = {})
    {
        verdict_.check(what, passed, detail);
    }
    void note(const std::string& line) { verdict_.note(line); }

    DemoOptions options_;
    int reportsPerSecond_ = 250;
    XScreen screen_;
    BoardModel board_;
    TrackerTestbed tracker_;
    std::unique_ptr<DriverProcess> driver_;
    std::unique_ptr<PenSession> pen_;
    std::unique_ptr<WhiteboardCanvas> canvas_;
    std::chrono::steady_clock::time_point driverStart_;
    Verdict verdict_;
};

const char* trayColourName(int colour);

} // namespace oru::demo
