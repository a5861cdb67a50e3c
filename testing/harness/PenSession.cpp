#include "harness/PenSession.h"

#include "fakes/EmulatedPenTracker.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <csignal>
#include <pthread.h>
#include <sched.h>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace oru::harness {

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
    : tracker_(tracker), screen_(screen), board_(board), period_(period),
      pen_{std::round(screen.width() / 2.0), std::round(screen.height() / 2.0)}
{
    sender_ = std::thread(&PenSession::sendLoop, this);
}

PenSession::~PenSession()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    sender_.join();
}

void PenSession::sendLoop()
{
    // Stop signals are for the main thread.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // The emulated hardware keeps its beat on a busy machine, as real hardware
    // does: ahead of the programs under test where the system allows it.
    sched_param realtime{};
    realtime.sched_priority = 10;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -10);

    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(mutex_);
    auto nextTick = Clock::now();
    while (!quit_) {
        if (!inRange_ && !queued_) {
            changed_.wait(lock, [&] { return quit_ || inRange_ || queued_; });
            // Back in range: the first report goes at once.
            nextTick = Clock::now();
            continue;
        }
        changed_.wait_until(lock, nextTick, [&] { return quit_; });
        if (quit_) break;
        if (!queued_ && !(inRange_ && last_)) continue;
        const bool fresh = queued_.has_value();
        const Outgoing out = fresh ? *queued_ : *last_;
        sending_ = true;
        lock.unlock();
        bool accepted = false;
        {
            std::lock_guard device(deviceMutex_);
            accepted = tracker_.send(out.report);
        }
        const auto now = Clock::now();
        lock.lock();
        sending_ = false;
        if (accepted) {
            ++sentTotal_;
            recent_[recentNext_++ % kAveraged] = out.screen;
            if (beatGoesOn_ && out.penState != kPenUp && last_ && last_->penState != kPenUp)
                longestDownGap_ = std::max(longestDownGap_, now - lastSent_);
            lastSent_ = now;
            beatGoesOn_ = true;
        }
        if (fresh) {
            last_ = out;
            queued_.reset();
            lastAccepted_ = accepted;
            ++taken_;
        }
        nextTick += period_;
        // Fell far behind (the system held this thread up): start the beat
        // again instead of sending a burst.
        if (nextTick + std::chrono::milliseconds(50) < now) nextTick = now;
        changed_.notify_all();
    }
}

void PenSession::leave()
{
    std::unique_lock lock(mutex_);
    inRange_ = false;
    beatGoesOn_ = false;
    changed_.wait(lock, [&] { return !sending_ && !queued_; });
}

void PenSession::withTrackerQuiet(const std::function<void()>& change)
{
    leave();
    std::lock_guard device(deviceMutex_);
    change();
}

long PenSession::reportsSent() const
{
    std::lock_guard lock(mutex_);
    return sentTotal_;
}

double PenSession::longestDownGapMs() const
{
    std::lock_guard lock(mutex_);
    return std::chrono::duration<double, std::milli>(longestDownGap_).count();
}

void PenSession::report(int penState, PointD p, int jitterUnits) { send(penState, p, jitterUnits, false); }

void PenSession::send(int penState, PointD p, int jitterUnits, bool thenLeave)
{
    PointD onBoard = board_.boardFromScreen(p);
    if (jitterUnits > 0) {
        std::uniform_int_distribution<int> jitter(-jitterUnits, jitterUnits);
        onBoard.x += jitter(random_);
        onBoard.y += jitter(random_);
    }
    bool accepted = false;
    {
        std::unique_lock lock(mutex_);
        queued_ = Outgoing{emulated::reportAt(penState, onBoard.x, onBoard.y), penState, p};
        inRange_ = !thenLeave;
        const long mine = taken_ + 1;
        changed_.notify_all();
        while (!changed_.wait_for(lock, std::chrono::milliseconds(20), [&] { return taken_ >= mine; }))
            if (stopFlag) throw std::runtime_error("stopped by a signal");
        accepted = lastAccepted_;
    }
    if (accepted) {
        refusedInRow_ = 0;
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
    if (stopFlag) throw std::runtime_error("stopped by a signal");
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

void PenSession::drawSquare(PointD a, double side)
{
    rest(kPenUp, 15);
    rest(kPenTip, 15);
    for (const PointD& corner : {PointD{a.x + side, a.y}, PointD{a.x + side, a.y + side}, PointD{a.x, a.y + side}, a}) {
        moveTo(kPenTip, corner);
        rest(kPenTip, 15);
    }
    rest(kPenUp, 10);
}

void PenSession::drawCircle(PointD centre, double radius, int points, int restUpAfter)
{
    std::vector<PointD> circle;
    for (int i = 0; i <= points; ++i) {
        const double angle = 2 * std::numbers::pi * i / points;
        circle.push_back({centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)});
    }
    moveTo(kPenUp, circle.front(), 4);
    rest(kPenUp, 15);
    rest(kPenTip, 5);
    follow(kPenTip, circle);
    rest(kPenTip, 15);
    rest(kPenUp, restUpAfter);
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
    leave();
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        if (canvas_) canvas_->pump();
        sleepFor(std::chrono::milliseconds(5));
    }
}

bool PenSession::idleUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    leave();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        idle(std::chrono::milliseconds(20));
    }
    return true;
}

bool PenSession::handOff(std::chrono::milliseconds timeout)
{
    // The pointer shows the average of the driver's last 5 points. Steps this
    // long make that average differ by a step after each report, so the
    // average of the last five reports sent says the last one has been
    // handled; the driver handles the reports in order, so none is left to
    // come. While this thread is held up between two steps the tracker
    // repeats the previous one on its beat, and those repeats count in the
    // driver's average as well: the expected point is made of the reports
    // that really went out, not of the steps.
    constexpr double kStepPx = 40;
    constexpr int kSteps = 6;
    constexpr double kTolerancePx = 12;  // calibration error and rounding, well under a step
    // Towards the middle of the screen, which keeps the steps on it; from
    // near the middle, to the left.
    double dx = screen_.width() / 2.0 - pen_.x, dy = screen_.height() / 2.0 - pen_.y;
    double length = std::hypot(dx, dy);
    if (length < kStepPx * kSteps) {
        dx = -1;
        dy = 0;
        length = 1;
    }
    const PointD from = pen_;
    for (int i = 1; i <= kSteps; ++i) {
        if (handOffHesitation_.count() > 0) sleepFor(handOffHesitation_);
        const PointD p{std::round(from.x + i * kStepPx * dx / length), std::round(from.y + i * kStepPx * dy / length)};
        send(kPenUp, p, 0, i == kSteps);
    }
    // The last step left the range: nothing is sent after it.
    PointD expected{0, 0};
    {
        std::lock_guard lock(mutex_);
        for (const PointD& p : recent_) {
            expected.x += p.x / kAveraged;
            expected.y += p.y / kAveraged;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (canvas_) canvas_->pump();
        const PointerState pointer = screen_.pointer();
        if (distance({double(pointer.x), double(pointer.y)}, expected) <= kTolerancePx) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        sleepFor(std::chrono::milliseconds(5));
    }
}

void PenSession::startMeasuring()
{
    // The pointer may still be anywhere (where a menu was used, where the
    // calibration left it) while the driver works through the reports that
    // bring it to the pen, many of them on a busy machine; the path is
    // measured from the pen on, once the pointer is there, and the reports
    // sent while waiting for it are not held against the path.
    restErrorPx_ = std::max(restErrorPx_, awaitPointerAtPen());
    ++rests_;
    measuring_ = true;
    path_.assign(1, pen_);
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

} // namespace oru::harness
