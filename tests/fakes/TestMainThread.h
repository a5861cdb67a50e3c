#pragma once

#include "platform/MainThreadWaker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace oru::test {

/// The main thread's event loop as far as the device layer needs it: wake()
/// (from reader threads) wakes pumpUntil(), which runs the pending work on
/// the test's own thread, as the program's loop does.
class TestMainThread final : public MainThreadWaker {
public:
    void wake() override
    {
        std::lock_guard lock(mutex_);
        ++wakes_;
        signal_.notify_all();
    }

    int wakes()
    {
        std::lock_guard lock(mutex_);
        return wakes_;
    }

    /// Calls runPending() whenever woken (and at least every 10 ms) until
    /// done() holds or the timeout passes. Returns done().
    template <typename RunPending, typename Done>
    bool pumpUntil(RunPending runPending, Done done, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            int seen = 0;
            {
                std::lock_guard lock(mutex_);
                seen = wakes_;  // before running: a wake during the run is not missed
            }
            runPending();
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= deadline) return done();
            std::unique_lock lock(mutex_);
            signal_.wait_for(lock, std::chrono::milliseconds(10), [&] { return wakes_ != seen; });
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable signal_;
    int wakes_ = 0;
};

} // namespace oru::test
