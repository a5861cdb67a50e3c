#pragma once

#include "app/MainFormState.h"

#include <optional>

namespace oru {

/// Pushes a mapped point (screen px) into SmoothHistory and returns the mean of
/// the newest min(SmoothCount, 5) entries, stopping at the first entry that is
/// exactly (0, 0). Returns nothing for a point with a negative coordinate
/// (history untouched) or when the newest point is exactly (0, 0).
std::optional<TDoublePoint> SmoothPoint(TMainFormState& state, double x, double y);

} // namespace oru
