#pragma once

#include "platform/HidDeviceMonitor.h"
#include "platform/HidAdvice.h"
#include "platform/HidReadPort.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace oru {

/// One HID interface as the system lists it.
struct HidInterfaceInfo {
    /// Node that opens the interface ("/dev/hidraw3").
    std::string path;
    /// Stays the same while the device stays plugged in and changes with every
    /// plug ("0003:0020:0002.000A" on Linux).
    std::string identity;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t version = 0;
};

/// What a read-write open of an interface's node gives.
enum class HidAccess {
    ReadWrite,  // the driver can read reports
    QueryOnly,  // the node exists but refuses us (permissions): IDs only
    Missing,    // the node can't be opened at all (gone meanwhile)
};

/// What an interface's report descriptor says about reading its reports.
enum class HidDescriptorStatus {
    Usable,         // declares at least one input report
    Unreadable,     // the descriptor can't be fetched at all
    Malformed,      // the descriptor can't be parsed (the kernel would refuse it too)
    NoInputReport,  // parsed, but declares no input report
};

struct HidInputReportInfo {
    /// As inputReportLength(): 0 unless status is Usable.
    std::uint16_t length = 0;
    HidDescriptorStatus status = HidDescriptorStatus::Unreadable;
    /// Why the descriptor is Unreadable, else none.
    HidError error;
};

/// The system's HID layer as the driver needs it. Main thread only, except
/// the read ports it makes.
class HidSystem {
public:
    virtual ~HidSystem() = default;

    /// Whether HID access works at all; decided once, when the backend is made.
    virtual bool available() const = 0;

    /// The HID interfaces present now, in the system's enumeration order.
    /// Empty when unavailable or when the list can't be obtained.
    virtual std::vector<HidInterfaceInfo> listInterfaces() = 0;

    /// Whether the node can be opened read-write, without keeping it open.
    /// errorCode receives the system's error number when it can't, else 0.
    virtual HidAccess probeAccess(const std::string& path, int& errorCode) = 0;

    /// Length of the interface's largest input report as read: its data bytes
    /// plus one for the report-ID byte, which is counted also for a device
    /// without numbered reports. 0 when the report descriptor can't be read
    /// or has no input report.
    virtual std::uint16_t inputReportLength(const std::string& path) = 0;

    /// The input report length together with why it is 0, when it is.
    virtual HidInputReportInfo inputReportInfo(const std::string& path)
    {
        const std::uint16_t length = inputReportLength(path);
        return {length, length ? HidDescriptorStatus::Usable : HidDescriptorStatus::Unreadable, {}};
    }

    /// A fresh, closed read port for one reader thread.
    virtual std::unique_ptr<HidReadPort> makeReadPort() = 0;

    /// Starts listening for interfaces added and removed; nullptr when that
    /// is impossible (the backend says why on stderr).
    virtual std::unique_ptr<HidDeviceMonitor> openMonitor() = 0;

    /// The system's own words for one of its error codes (an HidError's code
    /// or probeAccess's), for the lines on stderr: "No such file or directory".
    /// The default reads it as an errno value.
    virtual std::string errorText(int code) const { return std::strerror(code); }

    /// What can be done about a tracker that can't be used, in this
    /// system's terms; the default names no system's tool.
    virtual const HidAdvice& advice() const
    {
        static const HidAdvice generic;
        return generic;
    }
};

} // namespace oru
