#pragma once

#include "app/MainFormState.h"
#include "calibration/CalibrationClose.h"
#include "calibration/CalibrationProcedure.h"
#include "display/DesktopScreens.h"

#include <windows.h>

#include <optional>

namespace oru {

/// The Win32 calibration window: topmost and borderless over the whole board
/// monitor, a red and a blue crosshair drawn with GDI at the target's screen
/// point, ESC cancels. Shown modally by exec(); the run starts 500 ms after the
/// show (Timer1) and pumps the message loop while it waits for the pen.
///
/// Everything is in physical pixels (the program is per-monitor DPI aware):
/// the board screen's geometry, the target points and the crosshairs, which
/// are drawn at their own size at any scale factor.
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
    /// The board's screen (its geometry in physical pixels of the virtual
    /// screen): the next show opens there and takes its size.
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

    /// The window's handle (made at construction; hidden when not shown).
    HWND handle() const { return window_; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void FormShow();
    void FormKeyPress(WPARAM key);
    void Timer1Timer();
    void paint(HDC dc) const;
    /// The board monitor in the virtual screen, physical pixels.
    RECT boardRect() const;
    // CalibrationView: every target's screen point lies inside the window as
    // it is placed (the board's monitor, or the primary one).
    bool overTargets() override;
    bool runEndsAtOnce() const override;
    std::string placementText() const override;
    std::string placementAdvice() const override;
    /// The shown crosshairs' rectangle in the window, empty when none.
    RECT crosshairRect() const;
    /// Hides the window and ends the modal loop.
    void closeNow();
    /// Takes a WM_QUIT out of a nested loop: it is posted again once the
    /// loop the program ends from gets control back.
    void quitSeen(WPARAM exitCode);
    void passQuitOn();

    TMainFormState& state_;
    CalibrationProcedure procedure_;
    CalibrationClose close_;
    std::optional<DesktopScreen> board_;
    HWND window_ = nullptr;
    HFONT labelFont_ = nullptr;
    std::optional<TPoint> shownTarget_;  // board screen px
    bool redVisible_ = false;
    bool blueVisible_ = false;
    bool closed_ = true;       // the modal loop ends
    int modalLoops_ = 0;       // exec() calls under way
    bool quitPending_ = false;  // a WM_QUIT taken out of a nested loop
    WPARAM quitCode_ = 0;
    bool quitRequested_ = false;
};

} // namespace oru
