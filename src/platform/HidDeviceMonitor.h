#pragma once

namespace oru {

/// Tells when HID interfaces come and go. The program watches fd() in its
/// event loop and calls drainChanges() on the main thread when it is readable.
class HidDeviceMonitor {
public:
    virtual ~HidDeviceMonitor() = default;

    /// File descriptor that becomes readable when events are waiting.
    virtual int fd() const = 0;

    /// Takes every waiting event; true when at least one was an interface
    /// added or removed (other events, such as attribute changes, don't count).
    virtual bool drainChanges() = 0;
};

} // namespace oru
