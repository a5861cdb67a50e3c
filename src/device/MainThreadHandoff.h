#pragma once

#include "platform/MainThreadWaker.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>

namespace oru {

/// Runs work of reader threads on the main thread, one entry at a time, in
/// the order the readers queued it; a reader waits for its entry's end before
/// it touches what the entry uses (it may do other waiting meanwhile).
/// The queue is the only structure the readers and the main thread share;
/// one lock guards it. Nothing here allocates.
class MainThreadHandoff {
public:
    /// One delivery of a reader; the reader owns it and reuses it.
    class Entry {
    public:
        using Run = void (*)(void* context);
        Entry(Run run, void* context) : run_(run), context_(context) {}
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

    private:
        friend class MainThreadHandoff;
        Run run_;
        void* context_;
        Entry* next_ = nullptr;
        bool done_ = false;
        std::exception_ptr error_;
        std::condition_variable completed_;
    };

    /// Set by a reader thread as its very last act; read by the main thread.
    class EndFlag {
    private:
        friend class MainThreadHandoff;
        bool ended_ = false;
    };

    explicit MainThreadHandoff(MainThreadWaker& waker) : waker_(waker) {}
    MainThreadHandoff(const MainThreadHandoff&) = delete;
    MainThreadHandoff& operator=(const MainThreadHandoff&) = delete;

    /// Reader thread: queues the entry and wakes the main thread; returns at
    /// once. The entry may be posted again only after wait() has returned.
    void post(Entry& entry);

    /// Reader thread: blocks until the main thread has run the posted entry.
    /// An exception of the entry is raised again here.
    void wait(Entry& entry);

    /// Reader thread: post, then wait.
    void handOver(Entry& entry)
    {
        post(entry);
        wait(entry);
    }

    /// Main thread: runs the queued entries one by one in queue order,
    /// including entries queued meanwhile. Returns how many ran.
    std::size_t runPending();

    /// Reader thread: marks the reader as ended and wakes a main thread
    /// waiting in serveUntilEnded.
    void signalEnded(EndFlag& flag);

    /// Main thread: waits until the flag is set, running queued entries
    /// whenever there are some, so a reader blocked in handOver can finish.
    void serveUntilEnded(const EndFlag& flag);

    /// Whether entries are waiting (for tests and diagnostics).
    bool hasPending();

private:
    // The main thread looks again at least this often while it waits.
    static constexpr std::chrono::milliseconds kServeSlice{1000};

    Entry* takeFirst();  // with mutex_ held

    MainThreadWaker& waker_;
    std::mutex mutex_;
    std::condition_variable queueSignal_;
    Entry* head_ = nullptr;
    Entry* tail_ = nullptr;
};

} // namespace oru
