#include "app/StoredCalibration.h"

#include "calibration/CalibrationGeometry.h"
#include "common/FloatMath.h"
#include "pen/PenPipeline.h"

namespace oru {

FirstShowOutcome applyStoredCalibration(TMainFormState& state, const CalibrationTexts& texts, int widthPx,
                                        int heightPx)
{
    state.SmoothCount = 0;
    state.CalCancelled = 0;
    state.ScreenWidth = widthPx;
    state.ScreenHeight = heightPx;
    for (int edit = 0; edit < 8; ++edit) {
        state.CalValues[kEditToCalValue[edit]] = static_cast<float>(textToInt(texts[edit]));
    }

    // Only targets 0 and 1 decide whether anything was stored.
    const auto& v = state.CalValues;
    if (v[0] == 0 && v[4] == 0 && v[1] == 0 && v[5] == 0) {
        state.Calibrated = 0;
        return FirstShowOutcome::NeedsCalibration;
    }

    state.Calibrated = 1;
    state.Warper.ResetIdentity();
    fitWarp(state.Warper, state.CalValues, widthPx, heightPx, state.InsetRatio);
    return FirstShowOutcome::Fitted;
}

FirstShowOutcome refitForScreen(PenPipeline& pipeline, TMainFormState& state, const CalibrationTexts& texts,
                                int widthPx, int heightPx)
{
    pipeline.releaseHeldButton();
    return applyStoredCalibration(state, texts, widthPx, heightPx);
}

} // namespace oru
