#pragma once

#include "app/MainFormState.h"
#include "calibration/CalibrationTexts.h"
#include "common/TrayStatus.h"

#include <stdexcept>
#include <string>

namespace oru {

/// What the calibration run needs of its window and of the rest of the program.
/// The Qt calibration window implements it; tests script it.
class CalibrationView {
public:
    virtual ~CalibrationView() = default;
    /// Runs every pending event (reports, keys, repaints) and returns.
    virtual void pump() = 0;
    /// Like pump(), but when nothing is pending blocks until something comes,
    /// so waiting for the pen costs no CPU.
    virtual void waitAndPump() = 0;
    /// Shows or hides the red and the blue crosshair, centred on a target point.
    virtual void showTargets(TPoint targetPx, bool redVisible, bool blueVisible) = 0;
    /// Asks the window to close once the run's handler has returned.
    virtual void requestClose() = 0;
    /// Primary screen size in physical pixels.
    virtual int screenWidthPx() const = 0;
    virtual int screenHeightPx() const = 0;
    /// The program is ending: the run stops as if cancelled.
    virtual bool quitRequested() const { return false; }
    /// Whether the window covers every target where the board's screen shows
    /// it, once the window system has placed it (the view may wait for that).
    virtual bool overTargets() { return true; }
    /// A run now would end at once: the window is hidden or closing, or the
    /// program is ending.
    virtual bool runEndsAtOnce() const { return false; }
    /// Where the window and the board's screen are, and what to do when they
    /// differ, for the line that says so.
    virtual std::string placementText() const { return {}; }
    virtual std::string placementAdvice() const { return {}; }
};

/// What a completed run hands back to the main window; a completed run also
/// shows green on the tray.
class CalibrationHost : public TrayStatus {
public:
    virtual ~CalibrationHost() = default;
    /// The new texts of Edit1..Edit8.
    virtual void storeCalibrationTexts(const CalibrationTexts& texts) = 0;
    /// The run completed and its fit was taken: a chance to save at once.
    virtual void calibrationCompleted() = 0;
};

/// A completed run whose board samples cannot be where the board saw the
/// targets (see boardPointsPlausible). The text is shown to the user.
class EImplausibleCalibration : public std::runtime_error {
public:
    EImplausibleCalibration()
        : std::runtime_error("Hedeflere sırasıyla dokunulmadı. Lütfen yeniden kalibre edin.") {}
};

/// The window system would not put the calibration window over the whole
/// board screen: a run there would map the board off by the difference.
class ECalibrationWindowMisplaced : public std::runtime_error {
public:
    ECalibrationWindowMisplaced()
        : std::runtime_error("Kalibrasyon penceresi tahta ekranının tamamını kaplayamadı; kalibrasyon yapılmadı, "
                             "önceki kalibrasyon geçerli. Masaüstünün tam ekran pencerelere izin verdiğinden emin "
                             "olun ve yeniden kalibre edin.")
    {
    }
};

/// The crosshair images of the calibration window: this many pixels square,
/// two lines of kCrosshairLinePx across the whole image covering pixels
/// centre - 1 and centre (they cross at (36, 36)), and a circle of
/// kCrosshairCirclePx diameter around the crossing.
inline constexpr int kCrosshairImagePx = 72;
inline constexpr int kCrosshairLinePx = 2;
inline constexpr int kCrosshairCirclePx = 40;

/// The four-target calibration run: for each target, waits for the pen to be
/// lifted, then for 22 successive pen-down samples each within 14 board units
/// of the one before; then fits the warp. Reads PenState/RawX/RawY, which the
/// report handler updates inside the pumps.
class CalibrationProcedure {
public:
    /// Board units a sample may differ from the one before and still count.
    static constexpr std::int32_t kTolerance = 15;
    /// Counted samples needed: the count must exceed this.
    static constexpr int kStableCountNeeded = 20;

    CalibrationProcedure(TMainFormState& state, CalibrationView& view, CalibrationHost& host)
        : state_(state), view_(view), host_(host)
    {
    }

    /// Prepares a show of the window: clears CalCancelled and computes TargetPoints.
    void prepareShow();

    /// The whole run (all four targets, then the fit). A degenerate set of
    /// samples raises the fit's error, and an implausible one raises
    /// EImplausibleCalibration; either changes nothing of the previous
    /// calibration (texts, tray colour, warp, Calibrated).
    void run();

    /// The run, on a window over the board's screen only: the pen would
    /// otherwise be held on crosshairs away from the points the fit takes.
    /// A misplaced window runs nothing: a line on stderr says why, the run
    /// counts as cancelled (the stored calibration stays), the window closes,
    /// and false is returned, so that the shell shows the error
    /// ECalibrationWindowMisplaced once the window is gone. A run cancelled,
    /// closed or ended meanwhile goes on as before: it ends at once.
    bool runWhereShown();

    /// Pen-down samples for one target; stores the last one in CalValues.
    void AcquireTarget(int i);

private:
    bool cancelled() const { return state_.CalCancelled == 1 || view_.quitRequested(); }
    void finishCompletedRun();

    TMainFormState& state_;
    CalibrationView& view_;
    CalibrationHost& host_;
};

} // namespace oru
