#include "calibration/CalibrationTexts.h"

#include "app/MainFormState.h"
#include "common/FloatMath.h"

namespace oru {

std::string calibrationEditName(int edit)
{
    return "Edit" + std::to_string(edit + 1);
}

CalibrationTexts calibrationTextsFrom(const std::array<float, 8>& calValues)
{
    CalibrationTexts texts;
    for (int edit = 0; edit < 8; ++edit) texts[edit] = intToText(roundHalfEven(calValues[kEditToCalValue[edit]]));
    return texts;
}

} // namespace oru
