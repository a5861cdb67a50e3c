#pragma once

#include "platform/MainThreadWaker.h"

namespace oru {

/// Main-thread waker for programs without a toolkit event loop: wake() makes
/// fd() readable; the main loop polls fd(), calls consume() and then runs the
/// pending work.
class EventFdWaker final : public MainThreadWaker {
public:
    EventFdWaker();
    ~EventFdWaker() override;
    EventFdWaker(const EventFdWaker&) = delete;
    EventFdWaker& operator=(const EventFdWaker&) = delete;

    void wake() override;
    int fd() const { return fd_; }
    /// Makes fd() unreadable again until the next wake().
    void consume();

private:
    int fd_;
};

} // namespace oru
