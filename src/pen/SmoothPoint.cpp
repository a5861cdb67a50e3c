#include "pen/SmoothPoint.h"

#include <algorithm>
#include <limits>

namespace oru {

std::optional<TDoublePoint> SmoothPoint(TMainFormState& state, double x, double y)
{
    if (x < 0 || y < 0) return std::nullopt;

    // Saturate instead of wrapping: only the first five counts matter.
    if (state.SmoothCount < std::numeric_limits<std::int32_t>::max()) ++state.SmoothCount;

    auto& history = state.SmoothHistory;
    for (int i = kSmoothHistoryEntries - 1; i > 0; --i) history[i] = history[i - 1];
    history[0] = {x, y};

    const int n = std::min(state.SmoothCount, kSmoothWindow);
    double sumX = 0;
    double sumY = 0;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        if (history[i].x == 0 && history[i].y == 0) break;
        sumX += history[i].x;
        sumY += history[i].y;
        ++count;
    }
    if (count == 0) return std::nullopt;
    return TDoublePoint{sumX / count, sumY / count};
}

} // namespace oru
