#pragma once

#include "harness/BoardModel.h"
#include "harness/WhiteboardCanvas.h"
#include "harness/TrackerTestbed.h"
#include "harness/XScreen.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace oru::harness {

/// Pen states of the tracker's reports.
enum PenButton { kPenUp = 0, kPenTip = 1, kPenSecond = 2 };

/// The person holding the pen, and the tracker's clock: reports go out at a
/// steady rate for where the pen is on the screen, and the session keeps
/// score of where the X pointer is compared with the pen.
///
/// A thread of its own sends the reports, as the tracker's hardware does,
/// whatever this program's main thread is waiting for (an X server slow to
/// answer on a busy machine): while the pen is in range and the script has
/// no new place ready, the tracker repeats the last report. A pause of the
/// pen's reports is then only a deliberate one (idle()), never a stall of
/// this program, which the driver's release watchdog would take for a pen
/// gone out of range.
class PenSession {
public:
    PenSession(TrackerTestbed& tracker, XScreen& screen, const BoardModel& board, std::chrono::microseconds period);
    ~PenSession();
    PenSession(const PenSession&) = delete;
    PenSession& operator=(const PenSession&) = delete;

    /// Runs a plug or unplug of the tracker with the reports stopped (the
    /// pen out of range) and no report half sent.
    void withTrackerQuiet(const std::function<void()>& change);

    void setCanvas(WhiteboardCanvas* canvas) { canvas_ = canvas; }
    PointD position() const { return pen_; }

    /// One report with the pen at p (screen px), optionally jittered by up
    /// to jitterUnits on each board axis, sent at the next tick; returns
    /// once it has gone out.
    void report(int penState, PointD p, int jitterUnits = 0);
    /// Moves the pen in a straight line to p at stepPx per report.
    void moveTo(int penState, PointD p, double stepPx = 2.0);
    /// Follows a polyline, stepPx per report.
    void follow(int penState, const std::vector<PointD>& points, double stepPx = 2.0);
    /// A stroke around a square from its corner `corner` (where the pen
    /// is): hovering and pressing there 15 reports each, then to the other
    /// corners and back with the tip down, resting 15 reports at each; the
    /// pen lifted for 10 reports at the end.
    void drawSquare(PointD corner, double side);
    /// A stroke around a circle drawn as `points` straight steps: hovering to
    /// its start and resting there 15 reports, 5 reports of the tip down,
    /// around, 15 more; the pen lifted for restUpAfter reports at the end.
    void drawCircle(PointD centre, double radius, int points, int restUpAfter);
    /// Keeps the pen still for some reports; when measuring, compares the
    /// pointer with the pen once the driver has brought it there.
    void rest(int penState, int reports);
    /// Keeps the pen where it is, reporting, until the X pointer is within
    /// the rest limit of it (the driver has handled the reports up to the
    /// pen's stop), at most timeout; returns the distance then, in px.
    double awaitPointerAtPen(std::chrono::milliseconds timeout = kSettleTimeout);
    /// How close a pointer at rest must come to the pen, px.
    void setRestLimit(double px) { restLimitPx_ = px; }
    /// Takes the pen out of the tracker's range: no reports, not even
    /// repeated ones, until the next report().
    void leave();
    /// Before the hand takes the mouse: the pen hovers away in a few long
    /// steps and leaves the range; waits until the pointer shows that the
    /// driver has handled the last of its reports, so that no late one moves
    /// the pointer under the mouse. False when that didn't show in time.
    bool handOff(std::chrono::milliseconds timeout = kSettleTimeout);
    /// How long the script pauses before each step of handOff(), as a test
    /// thread held up by a busy machine does; the tracker's beat goes on
    /// meanwhile. 0 (the default): none beyond what the machine imposes.
    void setHandOffHesitation(std::chrono::microseconds pause) { handOffHesitation_ = pause; }
    /// Waits with the pen out of range (no reports), keeping the canvas served.
    void idle(std::chrono::milliseconds time);
    /// Waits with the pen out of range until done() holds, looking every
    /// 20 ms, at most timeout; false when it did not.
    bool idleUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    /// From now on, compare the pointer with the pen's path after every
    /// report. The path starts where the pen is: first waits for the pointer
    /// to be there (counted as a rest).
    void startMeasuring();
    void stopMeasuring() { measuring_ = false; }

    long reportsSent() const;
    long reportsRefused() const { return refused_; }
    double largestRestErrorPx() const { return restErrorPx_; }
    double largestPathDistancePx() const { return pathDistancePx_; }
    int restsMeasured() const { return rests_; }
    /// Longest time between two reports of a pen held down, idle() aside, in
    /// ms: the driver lets go of a button after 250 ms without a report.
    double longestDownGapMs() const;

private:
    void send(int penState, PointD p, int jitterUnits, bool thenLeave);
    void measureAfterReport();
    double distanceToPath(PointD p) const;
    void sendLoop();

    TrackerTestbed& tracker_;
    XScreen& screen_;
    const BoardModel& board_;
    WhiteboardCanvas* canvas_ = nullptr;
    std::chrono::microseconds period_;
    std::mt19937 random_{20240611};
    PointD pen_;  // screen px; starts in the middle of the screen
    int lastState_ = kPenUp;

    // Shared with the sending thread, under mutex_.
    struct Outgoing {
        emulated::Report report;
        int penState;
        PointD screen;  // where the pen is, px
    };
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Outgoing> queued_;  // the script's next report
    std::optional<Outgoing> last_;    // repeated while in range
    bool inRange_ = false;            // false: no reports (idle, unplugged)
    bool sending_ = false;            // a report is being written
    bool quit_ = false;
    long taken_ = 0;                  // script reports sent (or refused) so far
    bool lastAccepted_ = true;        // the node took the latest script report
    long sentTotal_ = 0;
    // The screen points of the last reports the node took, repeats included,
    // newest at (recentNext_ - 1) mod kAveraged: what the driver averages.
    static constexpr int kAveraged = 5;
    std::array<PointD, kAveraged> recent_{};
    long recentNext_ = 0;
    std::chrono::steady_clock::time_point lastSent_;
    bool beatGoesOn_ = false;  // the previous report counts for the pause measure
    std::chrono::steady_clock::duration longestDownGap_{};
    std::mutex deviceMutex_;  // held while a report is written and while plugging
    std::thread sender_;
    bool measuring_ = false;
    std::vector<PointD> path_;
    static constexpr int kRefusalsBeforeGivingUp = 25;
    // A busy machine delays the driver by many reports; a pointer that hasn't
    // arrived in this time isn't coming.
    static constexpr std::chrono::milliseconds kSettleTimeout{5000};
    double restLimitPx_ = 6;
    std::chrono::microseconds handOffHesitation_{0};
    long refused_ = 0;
    int refusedInRow_ = 0;
    double restErrorPx_ = 0;
    double pathDistancePx_ = 0;
    int rests_ = 0;
};

/// Sleeps, but gives up with an exception when the program was asked to stop
/// (installStopHandlers()).
void sleepFor(std::chrono::microseconds time);
/// Set by SIGINT/SIGTERM/SIGHUP.
bool stopRequested();
void installStopHandlers();

} // namespace oru::harness
