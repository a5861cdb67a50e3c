#pragma once

#include <functional>

namespace oru {

/// Tells when HID interfaces come and go. How the main loop learns that
/// events wait is the platform's: fd() turns readable (Linux: udev's monitor
/// socket, which the shell's loop watches), or a message reaches the
/// monitor's own window on the main thread (Windows: a device-change
/// broadcast), which calls onChange. Then drainChanges() runs on the main
/// thread.
class HidDeviceMonitor {
public:
    virtual ~HidDeviceMonitor() = default;

    /// For loops that watch descriptors: readable when events are waiting.
    /// -1 where the platform tells it another way.
    virtual int fd() const { return -1; }

    /// For monitors told by a message: called on the main thread when events
    /// wait. A descriptor's monitor never calls it.
    virtual void setOnChange(std::function<void()> onChange) { (void)onChange; }

    /// Takes every waiting event; true when at least one was an interface
    /// added or removed (other events, such as attribute changes, don't count).
    virtual bool drainChanges() = 0;
};

} // namespace oru
