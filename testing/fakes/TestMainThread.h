#pragma once

#include "platform/linux/EventFdWaker.h"

#include <poll.h>

#include <atomic>
#include <chrono>

namespace oru::test {

/// The main thread's event loop as far as the device layer needs it, woken as
/// the program's is: wake() (from reader threads) makes the eventfd readable,
/// and pumpUntil() runs the pending work on the test's own thread.
class TestMainThread final : public MainThreadWaker {
public:
    void wake() override
    {
        wakes_.fetch_add(1, std::memory_order_relaxed);
        waker_.wake();
    }
    int fd() const override { return waker_.fd(); }
    void consume() override { waker_.consume(); }

    int wakes() const { return wakes_.load(std::memory_order_relaxed); }

    /// Calls runPending() whenever woken (and at least every 10 ms) until
    /// done() holds or the timeout passes. Returns done().
    template <typename RunPending, typename Done>
    bool pumpUntil(RunPending runPending, Done done, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            consume();  // before running: a wake during the run is not missed
            runPending();
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= deadline) return done();
            pollfd woken{fd(), POLLIN, 0};
            ::poll(&woken, 1, 10);
        }
    }

private:
    EventFdWaker waker_;
    std::atomic<int> wakes_{0};
};

} // namespace oru::test
