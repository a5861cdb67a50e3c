#include "pen/PenPipeline.h"

#include "common/FloatMath.h"
#include "pen/SmoothPoint.h"

#include <algorithm>
#include <cmath>

namespace oru {

BoardPoint trilaterate(std::int32_t distanceA, std::int32_t distanceB)
{
    using E = Extended;
    const double d = ReceiverBaseline;
    // A^2 - B^2 is exact in 32 bits: both distances are at most 16320.
    const std::int32_t aSquared = distanceA * distanceA;
    const std::int32_t squareDifference = aSquared - distanceB * distanceB;
    const double x = static_cast<double>((E(squareDifference) + E(d) * d) / (2 * E(d)));
    const double t = static_cast<double>(E(aSquared) - E(x) * x);
    // Where the two circles don't meet (t < 0) the mirrored root keeps y
    // continuous through 0 instead of failing.
    const double y = t >= 0 ? static_cast<double>(-std::sqrt(E(t))) : static_cast<double>(std::sqrt(-E(t)));
    return {x, y};
}

BoardPoint PenPipeline::decode(const std::uint8_t* data, std::uint16_t size)
{
    auto& buffer = state_.ReportBuffer;
    const int kept = std::min<int>(size, kReportBufferEntries);
    for (int i = 0; i < kept; ++i) buffer[i] = data[i];

    using namespace report;
    state_.PenState = buffer[kStateAndHighAByte] >> kPenStateShift;
    state_.DistanceA = (buffer[kStateAndHighAByte] & kHighPartMask) * kHighPartWeight + buffer[kLowAByte];
    state_.DistanceB = (buffer[kHighBByte] & kHighPartMask) * kHighPartWeight + buffer[kLowBByte];

    const BoardPoint board = trilaterate(state_.DistanceA, state_.DistanceB);
    state_.RawX = roundHalfEven(board.x);
    state_.RawY = roundHalfEven(board.y);
    return board;
}

void PenPipeline::ShowRead(const std::uint8_t* data, std::uint16_t size, PenTime now)
{
    mapAndDrive(decode(data, size), now);
}

void PenPipeline::mapAndDrive(BoardPoint board, PenTime now)
{
    if (state_.Calibrating != 0 || state_.Calibrated != 1) return;
    state_.Warper.MapToScreen(static_cast<float>(board.x), static_cast<float>(board.y));
    driveMouse(now);
}

namespace {
constexpr unsigned kHeldLeft = 1;
constexpr unsigned kHeldRight = 2;
} // namespace

void PenPipeline::sendButton(MouseButtonEvent event, int dx, int dy)
{
    switch (event) {
    case MouseButtonEvent::LeftDown: heldButtons_ |= kHeldLeft; break;
    case MouseButtonEvent::LeftUp: heldButtons_ &= ~kHeldLeft; break;
    case MouseButtonEvent::RightDown: heldButtons_ |= kHeldRight; break;
    case MouseButtonEvent::RightUp: heldButtons_ &= ~kHeldRight; break;
    }
    pointer_.mouseEvent(event, dx, dy);
}

std::chrono::milliseconds PenPipeline::runAction(MouseButtonEvent event, bool pauseAfter)
{
    const int mx = roundHalfEven(state_.Warper.MappedX);
    const int my = roundHalfEven(state_.Warper.MappedY);
    state_.SmoothCount = 0;
    pointer_.setCursorPos(mx, my);
    sendButton(event, mx, my);
    // Gives the desktop time to take the press as the start of a drag before
    // the cursor moves on.
    if (!pauseAfter) return std::chrono::milliseconds{0};
    pointer_.pause(static_cast<int>(kLeftPressPause.count()));
    return kLeftPressPause;
}

void PenPipeline::releaseAllHeld(bool placeCursor)
{
    const auto release = [&](MouseButtonEvent event) {
        if (placeCursor) {
            runAction(event, false);
        } else {
            sendButton(event, roundHalfEven(state_.Warper.MappedX), roundHalfEven(state_.Warper.MappedY));
        }
    };
    if (heldButtons_ & kHeldLeft) release(MouseButtonEvent::LeftUp);
    if (heldButtons_ & kHeldRight) release(MouseButtonEvent::RightUp);
}

void PenPipeline::driveMouse(PenTime now)
{
    const std::int32_t last = state_.LastPenState;
    const std::int32_t next = state_.PenState;
    // Rows: last state, columns: new state. 1 -> 2 presses right without
    // releasing left; 2 -> 1 releases right without pressing left; state 3
    // does nothing either way.
    std::chrono::milliseconds paused{0};
    if (last == psUp && next == psLeft) paused = runAction(MouseButtonEvent::LeftDown, true);
    else if (last == psUp && next == psRight) runAction(MouseButtonEvent::RightDown, false);
    else if (last == psLeft && next == psUp) runAction(MouseButtonEvent::LeftUp, false);
    else if (last == psLeft && next == psRight) runAction(MouseButtonEvent::RightDown, false);
    else if (last == psRight && (next == psUp || next == psLeft)) runAction(MouseButtonEvent::RightUp, false);
    // A lifted pen holds nothing, whatever path it took to get there.
    if (next == psUp) releaseAllHeld(true);

    // Restarted after the press pause, as a timer restarted at this point would be.
    nextTick_ = now + paused + kReleaseWatchdogInterval;

    if (const auto average = SmoothPoint(state_, state_.Warper.MappedX, state_.Warper.MappedY)) {
        pointer_.setCursorPos(roundHalfEven(average->x), roundHalfEven(average->y));
    }
    // A rejected point (negative coordinate) leaves the cursor where it is.
    state_.LastPenState = next;
}

PenTime PenPipeline::releaseDue() const
{
    const bool releases = state_.LastPenState == psLeft || state_.LastPenState == psRight || heldButtons_ != 0;
    return releases ? nextTick_ : PenTime::max();
}

void PenPipeline::tick(PenTime now)
{
    if (now < nextTick_) return;
    releaseOnTick();
    // Keeps the interval's phase: the next tick is the first step after now.
    const auto steps = (now - nextTick_) / kReleaseWatchdogInterval + 1;
    nextTick_ += steps * kReleaseWatchdogInterval;
}

void PenPipeline::releaseOnTick()
{
    const int mx = roundHalfEven(state_.Warper.MappedX);
    const int my = roundHalfEven(state_.Warper.MappedY);
    if (state_.LastPenState == psLeft) {
        sendButton(MouseButtonEvent::LeftUp, mx, my);
        state_.LastPenState = psUp;
    }
    if (state_.LastPenState == psRight) {
        sendButton(MouseButtonEvent::RightUp, mx, my);
        state_.LastPenState = psUp;
    }
    // Reports have stopped: nothing may stay pressed, also not a button the
    // pen left held through state 3 or a 1 -> 2 change.
    if (heldButtons_ != 0) {
        releaseAllHeld(false);
        state_.LastPenState = psUp;
    }
}

} // namespace oru
