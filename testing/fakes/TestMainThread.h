#pragma once

#include "platform/MainThreadWaker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace oru::test {

/// The main thread's event loop as far as the device layer needs it, on any
/// platform: wake() (from reader threads) marks work as pending and wakes the
/// loop, and pumpUntil() runs the pending work on the test's own thread.
/// (The program's loops, Qt's over an eventfd and a tool's poll(), are
/// tested with the program and the Linux backends.)
class TestMainThread final : public MainThreadWaker {
public:
    void wake() override
    {
        wakes_.fetch_add(1, std::memory_order_relaxed);
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        changed_.notify_one();
    }
    void consume() override
    {
        std::lock_guard lock(mutex_);
        woken_ = false;
    }

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
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(10), [this] { return woken_; });
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
    std::atomic<int> wakes_{0};
};

} // namespace oru::test
