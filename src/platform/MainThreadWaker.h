#pragma once

namespace oru {

/// Asks the main thread's event loop to run the driver's pending work soon
/// (the program posts a queued call to its event loop; tools use an eventfd).
/// wake() is called from other threads, may be called many times before the
/// main thread gets round to it, and must not block.
class MainThreadWaker {
public:
    virtual ~MainThreadWaker() = default;
    virtual void wake() = 0;
};

} // namespace oru
