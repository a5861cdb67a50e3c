#pragma once

#include "app/MainFormState.h"
#include "platform/PointerOutput.h"

#include <chrono>
#include <cstdint>

namespace oru {

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

/// A time on one monotonic clock, counted from any fixed start: the program
/// passes its steady clock, the replay tool the recorded report times.
using PenTime = std::chrono::microseconds;

/// The release watchdog's interval: a button is released this long after the
/// last handled report (ticks keep coming at this interval while none comes).
inline constexpr std::chrono::milliseconds kReleaseWatchdogInterval{250};
/// How long the handler waits after a left press before it moves on.
inline constexpr std::chrono::milliseconds kLeftPressPause{10};

/// Everything one pen report touches: the state record, the mouse, and the
/// release watchdog. Reads no clock: the caller passes the time with every
/// report and tick, so the program and the replay tool run the same logic.
class PenPipeline {
public:
    /// The watchdog ticks from `start` on (the main window's creation).
    PenPipeline(TMainFormState& state, PointerOutput& pointer, PenTime start = PenTime{0})
        : state_(state), pointer_(pointer), nextTick_(start + kReleaseWatchdogInterval)
    {
    }

    /// Handles one input report that became available at `now`: decodes it
    /// into ReportBuffer, PenState, RawX/RawY and, while calibrated and not
    /// calibrating, maps it and drives the mouse. Bytes past the fifth are
    /// ignored. Raises an arithmetic error when the mapping fails; the report
    /// is then lost, the state stays usable.
    void ShowRead(const std::uint8_t* data, std::uint16_t size, PenTime now);

    /// Decoding half of ShowRead: ReportBuffer, PenState, distances, RawX/RawY.
    /// Returns the unrounded board point.
    BoardPoint decode(const std::uint8_t* data, std::uint16_t size);

    /// Second half of ShowRead for a decoded board point: nothing while
    /// calibrating or uncalibrated, else map it, drive the mouse and restart
    /// the watchdog: its next tick comes one interval after `now` (after the
    /// pause of a left press).
    void mapAndDrive(BoardPoint board, PenTime now);

    /// The watchdog at `now`: when its tick is due (watchdogDue() <= now),
    /// releases the button of LastPenState 1 or 2, then every other button
    /// the pen still holds, at the last mapped point; the next tick is then
    /// due at the first interval step after `now`. Ticks that fell due
    /// meanwhile would have found nothing to release, so one call stands for
    /// all of them. Before the tick is due, does nothing.
    void tick(PenTime now);

    /// When the watchdog's next tick is due.
    PenTime watchdogDue() const { return nextTick_; }
    /// When the watchdog will release a button if no report comes: its next
    /// tick when that tick has something to release, else PenTime::max().
    PenTime releaseDue() const;

    /// Releases every held button at the last mapped point (program end).
    void releaseHeldButton() { releaseOnTick(); }

    /// True while a button this pipeline pressed has not been released.
    bool holdsButton() const { return heldButtons_ != 0; }

private:
    void driveMouse(PenTime now);
    /// Runs one transition action; returns how long it paused.
    std::chrono::milliseconds runAction(MouseButtonEvent event, bool pauseAfter);
    /// Sends a button event and keeps heldButtons_ in step with it.
    void sendButton(MouseButtonEvent event, int dx, int dy);
    /// Pen up or watchdog: releases what the table's actions left held,
    /// left before right. With placeCursor, each release is a full action.
    void releaseAllHeld(bool placeCursor);
    /// What one watchdog tick does.
    void releaseOnTick();

    TMainFormState& state_;
    PointerOutput& pointer_;
    PenTime nextTick_;
    // Buttons pressed and not yet released, as bits kHeldLeft | kHeldRight.
    // 1 -> 2 -> 0 and 1 -> 3 -> 0 leave the left press without a release in
    // the transition table; this is what lets pen-up and the watchdog see it.
    unsigned heldButtons_ = 0;
};

} // namespace oru
