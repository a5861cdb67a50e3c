#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/HidError.h"

namespace oru {

/// Outcome of one wait for an input report.
enum class HidReadStatus {
    Report,    // one report was read
    TimedOut,  // nothing arrived within the wait
    Woken,     // wake() interrupted the wait
    Gone,      // the device went away (unplug); the port is closed
    Failed,    // the read was refused; error says why
};

struct HidReadResult {
    HidReadStatus status = HidReadStatus::TimedOut;
    /// Bytes in the buffer, report-ID byte included (Report only).
    std::size_t bytes = 0;
    /// Why the read was refused (Failed only).
    HidError error;
};

/// The reading end of one HID interface, owned and used by one reader thread.
/// Only wake() may be called from another thread.
class HidReadPort {
public:
    virtual ~HidReadPort() = default;

    /// Opens the interface's node for reading. false with why in error when
    /// it can't be opened.
    virtual bool open(const std::string& path, HidError& error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    /// A read timeout that waits until a report, an unplug or wake().
    static constexpr int kNoTimeout = -1;

    /// Waits up to timeoutMs (kNoTimeout: without limit) for one input report and reads exactly that one
    /// report into buffer: byte 0 the report ID (0 for a device without
    /// numbered reports), then its data bytes, at most length bytes in all.
    /// Returns at once with Woken when wake() was called since the last wait.
    virtual HidReadResult read(std::uint8_t* buffer, std::size_t length, int timeoutMs) = 0;

    /// Waits as read() does, but leaves the report in the device: Report when
    /// one can be read now. Lets the reader wait for the next report while
    /// the main thread still handles the previous one from its buffer. A port
    /// that can't wait without reading says Report at once.
    virtual HidReadResult waitForReport(int /*timeoutMs*/) { return {HidReadStatus::Report, 0, {}}; }

    /// Whether a report waits in the device to be read, without reading or
    /// waiting. Any thread: the main thread asks while the reader may be held
    /// up. A port that can't see into the device before the reader asks it
    /// again says true until then. A port that can't tell says false.
    virtual bool reportWaiting() const { return false; }
    /// Waits timeoutMs, or less when wake() is called; used to pace retries.
    virtual void pause(int timeoutMs) = 0;

    /// The error a device that went away gives, as the platform codes it; the
    /// reader reports it for a device unplugged under it.
    virtual HidError goneError() const { return {HidErrorKind::DeviceGone, 0}; }

    /// Interrupts the current or the next wait at once. Any thread.
    virtual void wake() = 0;
};

} // namespace oru
