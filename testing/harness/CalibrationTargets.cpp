#include "harness/CalibrationTargets.h"

#include <chrono>
#include <cmath>

namespace oru::harness {

namespace {

constexpr std::uint32_t kCrosshairBlue = 0x0006FF;
constexpr std::uint32_t kCrosshairRed = 0xFF0000;
constexpr int kCrosshairHalfPx = 36;

constexpr int kMaxReportsPerTarget = 2500;

constexpr float kInsetRatio = 0.1f;

int crosshairPixels(const XScreen& screen, PointD target)
{
    const PixelBlock block = crosshairBlock(screen, target);
    return XScreen::find(block, kCrosshairBlue).count + XScreen::find(block, kCrosshairRed).count;
}

} // namespace

std::array<PointD, 4> targetPoints(int w, int h)
{
    // Products in extended precision from the single-precision ratio, rounded
    // half to even: as the driver places its targets.
    const long double r = kInsetRatio, q = 1.0f - kInsetRatio;
    const auto round = [](long double v) { return static_cast<double>(std::nearbyint(v)); };
    return {{{round(w * r), round(h * r)}, {round(w * q), round(h * r)}, {round(w * r), round(h * q)},
             {round(w * q), round(h * q)}}};
}

PixelBlock crosshairBlock(const XScreen& screen, PointD target)
{
    return screen.grab(static_cast<int>(target.x) - kCrosshairHalfPx - 2, static_cast<int>(target.y) - kCrosshairHalfPx - 2,
                       2 * kCrosshairHalfPx + 4, 2 * kCrosshairHalfPx + 4);
}

ColourSpot findCrosshair(const PixelBlock& block)
{
    const ColourSpot blue = XScreen::find(block, kCrosshairBlue);
    return blue.count > 0 ? blue : XScreen::find(block, kCrosshairRed);
}

bool hoverUntilTargetShows(PenSession& pen, const XScreen& screen, PointD target)
{
    pen.moveTo(kPenUp, target, 8);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool shown = false;
    while (!(shown = crosshairPixels(screen, target) >= 40) && std::chrono::steady_clock::now() < deadline)
        for (int n = 0; n < 5; ++n) pen.report(kPenUp, target);
    return shown;
}

TargetPress pressUntilAccepted(PenSession& pen, const XScreen& screen, PointD target, int shakeUnits)
{
    pen.rest(kPenUp, 10);
    int downReports = 0;
    while (crosshairPixels(screen, target) > 0 && downReports < kMaxReportsPerTarget) {
        for (int n = 0; n < 5; ++n) pen.report(kPenTip, target, shakeUnits);
        downReports += 5;
    }
    pen.rest(kPenUp, 10);
    return {downReports < kMaxReportsPerTarget, downReports};
}

} // namespace oru::harness
