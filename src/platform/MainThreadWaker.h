#pragma once

namespace oru {

/// Asks the main thread's event loop to run the driver's pending work soon.
/// Wake-ups show as a readable file descriptor, so any event loop - the
/// program's Qt loop, a tool's poll() - watches it without allocating per
/// wake-up: when fd() is readable, the loop calls consume() and then runs the
/// pending work.
class MainThreadWaker {
public:
    virtual ~MainThreadWaker() = default;
    /// Called from other threads, possibly many times before the main thread
    /// gets round to it; never blocks.
    virtual void wake() = 0;
    /// Readable after wake() until consume().
    virtual int fd() const = 0;
    /// Takes the pending wake-ups; call before running the pending work, so
    /// that a wake() during the run is not missed.
    virtual void consume() = 0;
};

} // namespace oru
