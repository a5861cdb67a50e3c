#pragma once

namespace oru {

/// Tells when HID interfaces come and go. How the main loop learns that
/// events wait is the platform's: fd() turns readable (Linux: udev's monitor
/// socket), or a message reaches a window of the main thread (Windows: a
/// device-change broadcast). Then the loop calls drainChanges() on the main
/// thread.
class HidDeviceMonitor {
public:
    virtual ~HidDeviceMonitor() = default;

    /// For loops that watch descriptors: readable when events are waiting.
    /// -1 where the platform tells it another way.
    virtual int fd() const { return -1; }

    /// Takes every waiting event; true when at least one was an interface
    /// added or removed (other events, such as attribute changes, don't count).
    virtual bool drainChanges() = 0;
};

} // namespace oru
