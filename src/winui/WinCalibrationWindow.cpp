#include "winui/WinCalibrationWindow.h"

namespace oru {

// Placeholder until the Win32 window lands: no window, nothing runs.
WinCalibrationWindow::WinCalibrationWindow(TMainFormState& state, CalibrationHost& host) : state_(state), host_(host) {}
WinCalibrationWindow::~WinCalibrationWindow() = default;
void WinCalibrationWindow::exec() {}
bool WinCalibrationWindow::underWay() const { return false; }
void WinCalibrationWindow::raise() {}
void WinCalibrationWindow::pump() {}
void WinCalibrationWindow::waitAndPump() {}
void WinCalibrationWindow::showTargets(TPoint, bool, bool) {}
void WinCalibrationWindow::requestClose() {}
int WinCalibrationWindow::screenWidthPx() const { return 0; }
int WinCalibrationWindow::screenHeightPx() const { return 0; }

} // namespace oru
