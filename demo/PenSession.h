#pragma once

#include "BoardModel.h"
#include "DemoCanvas.h"
#include "TrackerTestbed.h"
#include "XScreen.h"

#include <chrono>
#include <random>
#include <vector>

namespace oru::demo {

/// Pen states of the tracker's reports.
enum PenButton { kPenUp = 0, kPenTip = 1, kPenSecond = 2 };

/// The person holding the pen: sends the tracker's reports at a steady rate
/// for where the pen is on the screen, and keeps score of where the X
/// pointer is compared with the pen.
class PenSession {
public:
    PenSession(TrackerTestbed& tracker, XScreen& screen, const BoardModel& board, std::chrono::microseconds period);

    void setCanvas(DemoCanvas* canvas) { canvas_ = canvas; }
    PointD position() const { return pen_; }

    /// One report with the pen at p (screen px), optionally jittered by up
    /// to jitterUnits on each board axis; then waits for the next tick.
    void report(int penState, PointD p, int jitterUnits = 0);
    /// Moves the pen in a straight line to p at stepPx per report.
    void moveTo(int penState, PointD p, double stepPx = 2.0);
    /// Follows a polyline, stepPx per report.
    void follow(int penState, const std::vector<PointD>& points, double stepPx = 2.0);
    /// Keeps the pen still for some reports; when measuring, compares the
    /// pointer with the pen once the driver has brought it there.
    void rest(int penState, int reports);
    /// Keeps the pen where it is, reporting, until the X pointer is within
    /// the rest limit of it (the driver has handled the reports up to the
    /// pen's stop), at most timeout; returns the distance then, in px.
    double awaitPointerAtPen(std::chrono::milliseconds timeout = kSettleTimeout);
    /// How close a pointer at rest must come to the pen, px.
    void setRestLimit(double px) { restLimitPx_ = px; }
    /// Waits without sending, keeping the canvas served.
    void idle(std::chrono::milliseconds time);

    /// From now on, compare the pointer with the pen's path after every
    /// report. The path starts where the pen is: first waits for the pointer
    /// to be there (counted as a rest).
    void startMeasuring();
    void stopMeasuring() { measuring_ = false; }

    long reportsSent() const { return sent_; }
    long reportsRefused() const { return refused_; }
    double largestRestErrorPx() const { return restErrorPx_; }
    double largestPathDistancePx() const { return pathDistancePx_; }
    int restsMeasured() const { return rests_; }
    /// Longest time between two reports of a pen held down, idle() aside, in
    /// ms: the driver lets go of a button after 250 ms without a report.
    double longestDownGapMs() const { return std::chrono::duration<double, std::milli>(longestDownGap_).count(); }

private:
    void measureAfterReport();
    double distanceToPath(PointD p) const;
    void waitForTick();

    TrackerTestbed& tracker_;
    XScreen& screen_;
    const BoardModel& board_;
    DemoCanvas* canvas_ = nullptr;
    std::chrono::microseconds period_;
    std::chrono::steady_clock::time_point nextTick_;
    std::mt19937 random_{20240611};
    PointD pen_;  // screen px; starts in the middle of the screen
    int lastState_ = kPenUp;
    std::chrono::steady_clock::time_point lastSent_;
    bool beatGoesOn_ = false;  // no idle() since the last report
    std::chrono::steady_clock::duration longestDownGap_{};
    bool measuring_ = false;
    std::vector<PointD> path_;
    static constexpr int kRefusalsBeforeGivingUp = 25;
    // A busy machine delays the driver by many reports; a pointer that hasn't
    // arrived in this time isn't coming.
    static constexpr std::chrono::milliseconds kSettleTimeout{5000};
    double restLimitPx_ = 6;
    long sent_ = 0;
    long refused_ = 0;
    int refusedInRow_ = 0;
    double restErrorPx_ = 0;
    double pathDistancePx_ = 0;
    int rests_ = 0;
};

/// Sleeps, but gives up with an exception when the demo was asked to stop.
void sleepFor(std::chrono::microseconds time);
/// Set by SIGINT/SIGTERM/SIGHUP.
bool stopRequested();
void installStopHandlers();

} // namespace oru::demo
