#pragma once

#include "app/MainFormState.h"
#include "calibration/CalibrationProcedure.h"
#include "display/DesktopScreens.h"

#include <optional>

namespace oru {

/// The Win32 calibration window: topmost and borderless over the whole board
/// monitor, a red and a blue crosshair drawn with GDI at the target's screen
/// point, ESC cancels. Shown modally by exec(); the run starts 500 ms after the
/// show (Timer1) and pumps the message loop while it waits for the pen.
class WinCalibrationWindow : public CalibrationView {
public:
    WinCalibrationWindow(TMainFormState& state, CalibrationHost& host);
    ~WinCalibrationWindow() override;
    WinCalibrationWindow(const WinCalibrationWindow&) = delete;
    WinCalibrationWindow& operator=(const WinCalibrationWindow&) = delete;

    /// Shows the window modally; returns once it has closed.
    void exec();
    /// Shown, or its run still under way.
    bool underWay() const;
    /// Brings the window under way to the front.
    void raise();
    /// The board's screen: the next show opens there and takes its size.
    void setBoardScreen(const DesktopScreen& board) { board_ = board; }
    /// The program is ending: a running calibration stops as if cancelled.
    void setQuitRequested() { quitRequested_ = true; }

    // CalibrationView
    void pump() override;
    void waitAndPump() override;
    void showTargets(TPoint targetPx, bool redVisible, bool blueVisible) override;
    void requestClose() override;
    int screenWidthPx() const override;
    int screenHeightPx() const override;
    bool quitRequested() const override { return quitRequested_; }

private:
    TMainFormState& state_;
    CalibrationHost& host_;
    std::optional<DesktopScreen> board_;
    bool quitRequested_ = false;
};

} // namespace oru
