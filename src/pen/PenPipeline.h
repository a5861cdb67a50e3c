#pragma once

#include "app/MainFormState.h"
#include "platform/PointerOutput.h"

#include <cstdint>

namespace oru {

class RestartableTimer;

/// Input report layout of the pen tracker (data bytes, report ID excluded).
namespace report {
inline constexpr int kStateAndHighAByte = 0;
inline constexpr int kHighBByte = 1;
inline constexpr int kLowAByte = 2;
inline constexpr int kLowBByte = 3;
inline constexpr int kPenStateShift = 6;
inline constexpr std::int32_t kHighPartMask = 0x3F;
/// The tracker codes each distance as high * 255 + low (not 256).
inline constexpr std::int32_t kHighPartWeight = 255;
} // namespace report

/// Distance between the two receivers, report units.
inline constexpr double ReceiverBaseline = 634.065;

/// Board point of the pen by trilateration, report units; receiver A at the
/// origin, receiver B at (ReceiverBaseline, 0), the pen on the y <= 0 side.
struct BoardPoint {
    double x;
    double y;
};
BoardPoint trilaterate(std::int32_t distanceA, std::int32_t distanceB);

/// Everything one pen report touches: the state record, the mouse, and the
/// release watchdog. The program and the replay tool build one each.
class PenPipeline {
public:
    PenPipeline(TMainFormState& state, PointerOutput& pointer, RestartableTimer& watchdog)
        : state_(state), pointer_(pointer), watchdog_(watchdog)
    {
    }

    /// Handles one input report: decodes it into ReportBuffer, PenState,
    /// RawX/RawY and, while calibrated and not calibrating, maps it and drives
    /// the mouse. Bytes past the fifth are ignored. Raises an arithmetic error
    /// when the mapping fails; the report is then lost, the state stays usable.
    void ShowRead(const std::uint8_t* data, std::uint16_t size);

    /// Decoding half of ShowRead: ReportBuffer, PenState, distances, RawX/RawY.
    /// Returns the unrounded board point.
    BoardPoint decode(const std::uint8_t* data, std::uint16_t size);

    /// Second half of ShowRead for a decoded board point: nothing while
    /// calibrating or uncalibrated, else map it and drive the mouse.
    void mapAndDrive(BoardPoint board);

    /// Watchdog tick: releases the button of LastPenState 1 or 2, then every
    /// other button the pen still holds, at the last mapped point.
    void gerisayimTimer();

    /// Releases every held button at the last mapped point (program end).
    void releaseHeldButton() { gerisayimTimer(); }

    /// True while a button this pipeline pressed has not been released.
    bool holdsButton() const { return heldButtons_ != 0; }

private:
    void driveMouse();
    void runAction(MouseButtonEvent event, bool pauseAfter);
    /// Sends a button event and keeps heldButtons_ in step with it.
    void sendButton(MouseButtonEvent event, int dx, int dy);
    /// Pen up or watchdog: releases what the table's actions left held,
    /// left before right. With placeCursor, each release is a full action.
    void releaseAllHeld(bool placeCursor);

    TMainFormState& state_;
    PointerOutput& pointer_;
    RestartableTimer& watchdog_;
    // Buttons pressed and not yet released, as bits kHeldLeft | kHeldRight.
    // 1 -> 2 -> 0 and 1 -> 3 -> 0 leave the left press without a release in
    // the transition table; this is what lets pen-up and the watchdog see it.
    unsigned heldButtons_ = 0;
};

} // namespace oru
