#pragma once

#include "platform/FdMainThreadWaker.h"

namespace oru {

/// Main-thread waker for programs without a toolkit event loop: wake() makes
/// fd() readable; the main loop polls fd(), calls consume() and then runs the
/// pending work.
class EventFdWaker final : public FdMainThreadWaker {
public:
    EventFdWaker();
    ~EventFdWaker() override;
    EventFdWaker(const EventFdWaker&) = delete;
    EventFdWaker& operator=(const EventFdWaker&) = delete;

    void wake() override;
    int fd() const override { return fd_; }
    /// Makes fd() unreadable again until the next wake().
    void consume() override;

private:
    int fd_;
};

} // namespace oru
