#pragma once

#include "fakes/EmulatedPenTracker.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace oru::emulated {

/// The emulated pen tracker as a real kernel HID device: /dev/uhid makes the
/// kernel's HID core create it (bus USB, the tracker's IDs, version and
/// report descriptor), hid-generic binds it and hidraw gives it a node, as
/// for the USB device. Unlike a USB device it has no USB parent in sysfs: its
/// hid device sits under /sys/devices/virtual/misc/uhid/.
///
/// Needs read-write access to /dev/uhid (root). Not thread-safe.
class UhidTracker {
public:
    struct Options {
        /// The descriptor with report ID 1: reports carry the ID byte.
        bool numberedReports = false;
        std::uint16_t vendorId = kVendorId;
        std::uint16_t productId = kProductId;
    };

    /// Plugs the tracker in and waits until its hidraw node exists. Throws
    /// std::runtime_error saying what failed.
    explicit UhidTracker(Options options, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    UhidTracker() : UhidTracker(Options{}) {}
    /// Unplugs it if still plugged.
    ~UhidTracker();
    UhidTracker(const UhidTracker&) = delete;
    UhidTracker& operator=(const UhidTracker&) = delete;

    /// The hidraw node, e.g. "/dev/hidraw0".
    const std::string& node() const { return node_; }
    /// The hid device's sysfs name, e.g. "0003:0020:0002.0004": new at every plug.
    const std::string& identity() const { return identity_; }
    bool numberedReports() const { return options_.numberedReports; }

    /// Sends one input report as the device would: data bytes only, or the
    /// report ID and the data bytes with numberedReports. False once unplugged
    /// or when the kernel refused it.
    bool send(const std::uint8_t* bytes, std::size_t size);
    /// Sends a pen report, with report ID 1 in front with numberedReports.
    bool send(const Report& report);

    /// Waits until some program has the node open (open: true) or nobody has
    /// (false): the kernel tells the device of the first open and the last
    /// close. False when that did not happen within timeout.
    bool waitOpen(bool open, std::chrono::milliseconds timeout);

    /// Unplugs it (UHID_DESTROY): the node goes, readers see a hang-up.
    void unplug();
    bool plugged() const { return fd_ >= 0; }

    /// The file descriptor of /dev/uhid, readable when the kernel has an
    /// event for the device; handleEvents() takes them.
    int fd() const { return fd_; }
    /// Handles the kernel's pending events without waiting.
    void handleEvents();

private:
    bool handleOneEvent(int timeoutMs);
    void findNode(std::chrono::steady_clock::time_point deadline);

    Options options_;
    int fd_ = -1;
    std::string uniq_;
    std::string node_;
    std::string identity_;
    bool started_ = false;
    bool open_ = false;
};

} // namespace oru::emulated
