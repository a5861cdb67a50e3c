#pragma once

#include "harness/PenSession.h"
#include "harness/XScreen.h"

#include <array>

namespace oru::harness {

/// Where the driver puts the four calibration targets on a w x h screen, in
/// that screen's own pixels: top left, top right, bottom left, bottom right.
std::array<PointD, 4> targetPoints(int w, int h);

/// The screen's pixels around a target (screen px), where its crosshair is
/// drawn.
PixelBlock crosshairBlock(const XScreen& screen, PointD target);
/// Where the crosshair's pixels lie: blue while it waits for the pen, red
/// while the pen is held on it; none when no target shows there.
ColourSpot findCrosshair(const PixelBlock& block);

/// Hovers over the target until its crosshair shows, at most 10 s.
bool hoverUntilTargetShows(PenSession& pen, const XScreen& screen, PointD target);

struct TargetPress {
    bool accepted;    // the crosshair went away: the calibration took the target
    int downReports;  // pen-down reports sent
};
/// A hand holding the pen on a target shakes it by this many board units.
inline constexpr int kHandShakeUnits = 2;

/// Holds the pen on a target, shaking by shakeUnits as a hand does (22
/// steady readings are what the calibration asks for), until its crosshair
/// goes, with the pen lifted for 10 reports before and after.
TargetPress pressUntilAccepted(PenSession& pen, const XScreen& screen, PointD target,
                               int shakeUnits = kHandShakeUnits);

} // namespace oru::harness
