#pragma once

#include "platform/MainThreadWaker.h"

namespace oru {

/// The main-thread waker over an eventfd: wake() adds one to its counter,
/// consume() reads the counter back to zero.
class EventFdWaker final : public MainThreadWaker {
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
