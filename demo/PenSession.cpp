#include "PenSession.h"

#include "fakes/EmulatedPenTracker.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <stdexcept>
#include <thread>

namespace oru::demo {

namespace {

std::atomic<bool> stopFlag{false};

void onStopSignal(int) { stopFlag = true; }

double distance(PointD a, PointD b) { return std::hypot(a.x - b.x, a.y - b.y); }

double distanceToSegment(PointD p, PointD a, PointD b)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double lengthSquared = dx * dx + dy * dy;
    if (lengthSquared == 0) return distance(p, a);
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared, 0.0, 1.0);
    return distance(p, {a.x + t * dx, a.y + t * dy});
}

} // namespace

bool stopRequested() { return stopFlag; }

void installStopHandlers()
{
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void sleepFor(std::chrono::microseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (true) {
        if (stopFlag) throw std::runtime_error("stopped by a signal");
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
    }
}

PenSession::PenSession(TrackerTestbed& tracker, XScreen& screen, const BoardModel& board,
                       std::chrono::microseconds period)
    : tracker_(tracker), screen_(screen), board_(board), period_(period), nextTick_(std::chrono::steady_clock::now()),
      pen_{std::round(screen.width() / 2.0), std::round(screen.height() / 2.0)}
{
}

void PenSession::waitForTick()
{
    nextTick_ += period_;
    const auto now = std::chrono::steady_clock::now();
    // Fell far behind (a slow screen grab, a busy machine): start the beat
    // again instead of sending a burst.
    if (nextTick_ + std::chrono::milliseconds(50) < now) nextTick_ = now;
    if (nextTick_ > now) std::this_thread::sleep_until(nextTick_);
    if (stopFlag) throw std::runtime_error("stopped by a signal");
}

void PenSession::report(int penState, PointD p, int jitterUnits)
{
    PointD onBoard = board_.boardFromScreen(p);
    if (jitterUnits > 0) {
        std::uniform_int_distribution<int> jitter(-jitterUnits, jitterUnits);
        onBoard.x += jitter(random_);
        onBoard.y += jitter(random_);
    }
    if (tracker_.send(emulated::reportAt(penState, onBoard.x, onBoard.y))) {
        ++sent_;
        refusedInRow_ = 0;
        const auto now = std::chrono::steady_clock::now();
        if (beatGoesOn_ && penState != kPenUp && lastState_ != kPenUp)
            longestDownGap_ = std::max(longestDownGap_, now - lastSent_);
        lastSent_ = now;
        beatGoesOn_ = true;
    } else {
        ++refused_;
        // Each refusal waited for the node's buffer to drain: nobody reads.
        if (++refusedInRow_ >= kRefusalsBeforeGivingUp)
            throw std::runtime_error("the driver stopped reading the pen tracker (" + std::to_string(refusedInRow_) +
                                     " reports in a row found its buffer full)");
    }
    if (measuring_ && canvas_ && penState != kPenUp && (p.x != pen_.x || p.y != pen_.y)) canvas_->penSegment(pen_, p);
    pen_ = p;
    lastState_ = penState;
    if (measuring_) {
        if (path_.empty() || path_.back().x != p.x || path_.back().y != p.y) path_.push_back(p);
        measureAfterReport();
    } else if (canvas_) {
        canvas_->pump();
    }
    waitForTick();
}

void PenSession::moveTo(int penState, PointD p, double stepPx)
{
    const PointD from = pen_;
    const int steps = std::max(1, static_cast<int>(std::ceil(distance(from, p) / stepPx)));
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        report(penState, {from.x + t * (p.x - from.x), from.y + t * (p.y - from.y)});
    }
}

void PenSession::follow(int penState, const std::vector<PointD>& points, double stepPx)
{
    for (const PointD& p : points) moveTo(penState, p, stepPx);
}

void PenSession::rest(int penState, int reports)
{
    for (int i = 0; i < reports; ++i) report(penState, pen_);
    if (!measuring_) return;
    restErrorPx_ = std::max(restErrorPx_, awaitPointerAtPen());
    ++rests_;
}

double PenSession::awaitPointerAtPen(std::chrono::milliseconds timeout)
{
    // The driver reads and handles the reports in its own time, many reports
    // late on a busy machine; the pointer comes to rest once it has handled
    // the reports of the pen's stop (it averages the last 5). Meanwhile the
    // pen stays as it is and goes on reporting, as a tracker does: a silence
    // would let the driver's release watchdog lift a held button.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    double away = 0;
    while (true) {
        if (canvas_) canvas_->pump();
        const PointerState pointer = screen_.pointer();
        away = distance({double(pointer.x), double(pointer.y)}, pen_);
        if (away <= restLimitPx_ || std::chrono::steady_clock::now() >= deadline) break;
        report(lastState_, pen_);
    }
    return away;
}

void PenSession::idle(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        if (canvas_) canvas_->pump();
        sleepFor(std::chrono::milliseconds(5));
    }
    nextTick_ = std::chrono::steady_clock::now();
    beatGoesOn_ = false;
}

void PenSession::startMeasuring()
{
    measuring_ = true;
    path_.assign(1, pen_);
    // The pointer may still be anywhere (where a menu was used, where the
    // calibration left it) while the driver works through the reports that
    // bring it to the pen; the path is measured from the pen on.
    restErrorPx_ = std::max(restErrorPx_, awaitPointerAtPen());
    ++rests_;
}

void PenSession::measureAfterReport()
{
    if (canvas_) canvas_->pump();
    const PointerState pointer = screen_.pointer();
    pathDistancePx_ = std::max(pathDistancePx_, distanceToPath({double(pointer.x), double(pointer.y)}));
}

double PenSession::distanceToPath(PointD p) const
{
    if (path_.size() == 1) return distance(p, path_[0]);
    double best = distance(p, path_.back());
    for (std::size_t i = 1; i < path_.size(); ++i) best = std::min(best, distanceToSegment(p, path_[i - 1], path_[i]));
    return best;
}

} // namespace oru::demo
