#pragma once

#include <array>
#include <string>

namespace oru {

/// The eight stored calibration texts, in Edit1..Edit8 order: decimal integer
/// texts of the board samples.
using CalibrationTexts = std::array<std::string, 8>;

/// "Edit1" ... "Edit8" for edit 0..7: the name each text is stored under (the
/// store adds "_Text": "Edit1_Text").
std::string calibrationEditName(int edit);

/// The texts a completed calibration stores: CalValues rounded, halves to even.
CalibrationTexts calibrationTextsFrom(const std::array<float, 8>& calValues);

} // namespace oru
