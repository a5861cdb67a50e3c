#pragma once

#include "platform/MainThreadWaker.h"

namespace oru {

/// A main-thread waker whose wake-ups show as a readable file descriptor, so
/// an event loop can watch it without allocating per wake-up.
class FdMainThreadWaker : public MainThreadWaker {
public:
    /// Readable after wake() until consume().
    virtual int fd() const = 0;
    /// Takes the pending wake-ups; call before running the pending work.
    virtual void consume() = 0;
};

} // namespace oru
