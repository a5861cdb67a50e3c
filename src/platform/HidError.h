#pragma once

#include <cstdint>

namespace oru {

/// What a failed HID call means to the driver, the same on every platform;
/// each backend sorts its own codes (errno, GetLastError) into these.
enum class HidErrorKind : std::uint8_t {
    None,        // no error
    DeviceGone,  // the device or its node went away (unplug): normal, nothing to tell
    NoAccess,    // permissions or a security policy refuse us
    Transient,   // resources of this process or the system run short: retrying cures it
    Other,       // anything else: the device or its node is unusable
};

/// A failed call: its kind, for the driver's decisions, and the platform's own
/// code, for the message only.
struct HidError {
    HidErrorKind kind = HidErrorKind::None;
    int code = 0;

    explicit operator bool() const { return kind != HidErrorKind::None; }
    bool operator==(const HidError&) const = default;
};

} // namespace oru
