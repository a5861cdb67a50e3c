#include "device/MainThreadHandoff.h"

#include <utility>

namespace oru {

void MainThreadHandoff::post(Entry& entry)
{
    {
        std::lock_guard lock(mutex_);
        entry.next_ = nullptr;
        entry.done_ = false;
        entry.error_ = nullptr;
        if (tail_) {
            tail_->next_ = &entry;
        } else {
            head_ = &entry;
        }
        tail_ = &entry;
    }
    queueSignal_.notify_all();
    waker_.wake();
}

void MainThreadHandoff::wait(Entry& entry)
{
    std::unique_lock lock(mutex_);
    entry.completed_.wait(lock, [&] { return entry.done_; });
    if (entry.error_) std::rethrow_exception(std::exchange(entry.error_, nullptr));
}

MainThreadHandoff::Entry* MainThreadHandoff::takeFirst()
{
    Entry* entry = head_;
    if (entry) {
        head_ = entry->next_;
        if (!head_) tail_ = nullptr;
        entry->next_ = nullptr;
    }
    return entry;
}

std::size_t MainThreadHandoff::runPending()
{
    std::size_t ran = 0;
    std::unique_lock lock(mutex_);
    while (Entry* entry = takeFirst()) {
        lock.unlock();
        std::exception_ptr error;
        try {
            entry->run_(entry->context_);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        entry->error_ = error;
        entry->done_ = true;
        // The reader may destroy the entry as soon as it sees done_: notify
        // while the lock still keeps it waiting. Usually nobody waits: the
        // reader waits for its next report meanwhile, and the notify costs
        // no system call.
        entry->completed_.notify_one();
        ++ran;
    }
    return ran;
}

void MainThreadHandoff::signalEnded(EndFlag& flag)
{
    {
        std::lock_guard lock(mutex_);
        flag.ended_ = true;
    }
    queueSignal_.notify_all();
}

void MainThreadHandoff::serveUntilEnded(const EndFlag& flag)
{
    std::unique_lock lock(mutex_);
    while (true) {
        if (head_) {
            lock.unlock();
            runPending();
            lock.lock();
            continue;
        }
        if (flag.ended_) return;
        queueSignal_.wait_for(lock, kServeSlice);
    }
}

bool MainThreadHandoff::hasPending()
{
    std::lock_guard lock(mutex_);
    return head_ != nullptr;
}

} // namespace oru
