#include "calibration/CalibrationProcedure.h"

#include "calibration/CalibrationGeometry.h"

#include <cstdio>

namespace oru {

void CalibrationProcedure::prepareShow()
{
    state_.CalCancelled = 0;
    state_.TargetPoints = targetPoints(view_.screenWidthPx(), view_.screenHeightPx(), state_.InsetRatio);
}

void CalibrationProcedure::run()
{
    for (int i = 0; i < 4; ++i) {
        view_.pump();
        AcquireTarget(i);
    }
    if (state_.CalCancelled != 0 || view_.quitRequested()) return;
    state_.Calibrating = 0;
    finishCompletedRun();
}

bool CalibrationProcedure::runWhereShown()
{
    if (view_.overTargets() || view_.runEndsAtOnce() || state_.CalCancelled != 0) {
        run();
        return true;
    }
    std::fprintf(stderr,
                 "oruDriver: the calibration window is not over the whole board screen (%s); no calibration was "
                 "made and the stored one stays. %s\n",
                 view_.placementText().c_str(), view_.placementAdvice().c_str());
    state_.CalCancelled = 1;
    state_.Calibrating = 0;
    view_.requestClose();
    return false;
}

void CalibrationProcedure::finishCompletedRun()
{
    // Fit on a copy first: a degenerate set of samples must not replace a
    // working calibration, nor be reported as a success.
    TWarper fitted = state_.Warper;
    fitWarp(fitted, state_.CalValues, view_.screenWidthPx(), view_.screenHeightPx(), state_.InsetRatio);
    // A steady touch in the wrong place fits too, and would map the whole
    // board wrongly. Degenerate samples have failed the fit above already and
    // keep its error.
    if (!boardPointsPlausible(boardPoints(state_.CalValues))) throw EImplausibleCalibration();

    host_.storeCalibrationTexts(calibrationTextsFrom(state_.CalValues));
    host_.showTrayState(TrayState::Ready);
    state_.Warper = fitted;
    state_.Calibrating = 0;
    state_.Calibrated = 1;
    host_.calibrationCompleted();
}

void CalibrationProcedure::AcquireTarget(int i)
{
    bool done = false;
    int stableCount = 0;
    TPoint previous{0, 0};
    int blinkCounter = 0;
    const TPoint target = state_.TargetPoints[i];

    view_.showTargets(target, true, true);
    view_.pump();

    // A pen still down from the previous target must be lifted first.
    while (state_.PenState != psUp) {
        // Once cancelled, nothing is worth waiting for.
        if (cancelled()) view_.pump();
        else view_.waitAndPump();
        if (cancelled()) {
            state_.Calibrating = 0;
            break;
        }
    }

    while (!done) {
        if (cancelled()) {
            state_.Calibrating = 0;
            break;
        }
        // A sample that is already waiting is taken without blocking; otherwise
        // sleep until the next report or key.
        if (state_.RawX != 0 && state_.PenState == psLeft) view_.pump();
        else view_.waitAndPump();
        if (state_.RawX != 0 && state_.PenState == psLeft) {
            view_.pump();
            // Both read with no pump between: they come from the same report.
            const TPoint sample{state_.RawX, state_.RawY};
            const bool steady = previous.x - kTolerance < sample.x && sample.x < previous.x + kTolerance &&
                                previous.y - kTolerance < sample.y && sample.y < previous.y + kTolerance;
            stableCount = steady ? stableCount + 1 : 0;
            previous = sample;
            state_.RawX = 0;
            state_.RawY = 0;
            if (stableCount > kStableCountNeeded) done = true;

            // Blue for blink counts 0..10, red for 11..20: the user sees the
            // target react while holding the pen.
            if (blinkCounter > 10) view_.showTargets(target, true, false);
            else view_.showTargets(target, false, true);
            ++blinkCounter;
            if (blinkCounter > 20) blinkCounter = 0;
            view_.pump();
        }
    }

    state_.CalValues[i] = static_cast<float>(previous.x);
    state_.CalValues[i + 4] = static_cast<float>(previous.y);
    view_.requestClose();
}

} // namespace oru
