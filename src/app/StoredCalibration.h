#pragma once

#include "app/MainFormState.h"
#include "calibration/CalibrationTexts.h"

namespace oru {
class PenPipeline;
}

namespace oru {

enum class FirstShowOutcome {
    Fitted,            // stored numbers found; Calibrated is 1 and the warp is fitted
    NeedsCalibration,  // targets 0 and 1 all zero: nothing stored; Calibrated is 0
};

/// The first show's decision from the stored texts, for a W x H primary
/// screen: resets the average and the cancel flag, converts the texts into
/// CalValues and either fits the warp or reports that a calibration must run.
/// Raises EConvertError for a text that isn't a decimal integer (nothing is
/// fitted then) and an arithmetic error when the stored samples can't be fitted
/// (Calibrated is then already 1 and the warp keeps retrying).
FirstShowOutcome applyStoredCalibration(TMainFormState& state, const CalibrationTexts& texts, int widthPx,
                                        int heightPx);

/// The board's screen changed geometry while the program runs (a projector
/// plugged, a new resolution): a button the pen holds is released first, at
/// the place it was pressed, so nothing stays held across the change; then the
/// stored texts are fitted for the new W x H exactly as the first show does.
/// Nothing is stored and no calibration is asked for. Raises as
/// applyStoredCalibration does.
FirstShowOutcome refitForScreen(PenPipeline& pipeline, TMainFormState& state, const CalibrationTexts& texts,
                                int widthPx, int heightPx);

} // namespace oru
