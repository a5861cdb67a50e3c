#pragma once

namespace oru {

/// Asks the main thread's event loop to run the driver's pending work soon.
/// How the loop learns of it is the platform's: a file descriptor that turns
/// readable (Linux: an eventfd the program's Qt loop or a tool's poll()
/// watches), or a message posted to a window of the main thread (Windows).
/// Either way, once woken the loop calls consume() and then runs the pending
/// work, and no wake-up allocates.
class MainThreadWaker {
public:
    virtual ~MainThreadWaker() = default;
    /// Called from other threads, possibly many times before the main thread
    /// gets round to it; never blocks.
    virtual void wake() = 0;
    /// Takes the pending wake-ups; call before running the pending work, so
    /// that a wake() during the run is not missed. Nothing to take where each
    /// wake-up is a message of its own.
    virtual void consume() {}
    /// For loops that watch descriptors: readable after wake() until
    /// consume(). -1 where the platform wakes its loop another way.
    virtual int fd() const { return -1; }
};

} // namespace oru
