#pragma once

#include "platform/MachineCalibration.h"

#include <memory>

namespace oru {

/// The program's three windows over the core, the same on every system: the
/// main window (over MainWindowController) first, then the calibration window,
/// whose host is the controller, and the about box; the machine's calibration
/// (which outlives them) for an account without its own. They end in reverse order: the main window
/// ends its run first (a button the pen holds goes up) and goes last, saving.
/// Each shell gives its own window types (qtui/, winui/).
template <class MainWindow, class CalibrationWindow, class AboutBox>
class DriverWindows {
public:
    DriverWindows(std::unique_ptr<MainWindow> mainWindow, std::unique_ptr<AboutBox> aboutBox,
                  const MachineCalibration& machineCalibration)
        : main(std::move(mainWindow)),
          calibration(std::make_unique<CalibrationWindow>(main->state, main->calibrationHost())),
          about(std::move(aboutBox))
    {
        main->setWindows(calibration.get(), about.get());
        main->setMachineCalibration([&machineCalibration] { return machineCalibration.load(); });
    }
    ~DriverWindows() { end(); }
    DriverWindows(const DriverWindows&) = delete;
    DriverWindows& operator=(const DriverWindows&) = delete;

    /// The ordered end; once only.
    void end()
    {
        if (!main) return;
        main->shutdown();
        about.reset();
        calibration.reset();
        main.reset();
    }

    std::unique_ptr<MainWindow> main;
    std::unique_ptr<CalibrationWindow> calibration;
    std::unique_ptr<AboutBox> about;
};

} // namespace oru
