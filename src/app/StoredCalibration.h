#pragma once

#include "app/MainFormState.h"
#include "calibration/CalibrationTexts.h"

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

} // namespace oru
