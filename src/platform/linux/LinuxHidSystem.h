#pragma once

#include "platform/HidDeviceMonitor.h"
#include "platform/HidSystem.h"
#include "platform/linux/LinuxHidAdvice.h"

#include <memory>

struct udev;

namespace oru {

/// HID access through libudev (subsystem "hidraw") and /dev/hidrawN nodes.
/// Identity is the sysfs name of the node's "hid" parent; vendor and product
/// come from the parent's HID_ID, the version from the USB device's bcdDevice
/// (0 for devices on other buses). Report lengths come from the parent's
/// report_descriptor in sysfs, or the HIDIOCGRDESC ioctl where sysfs lacks it.
class LinuxHidSystem final : public HidSystem {
public:
    /// Decides once whether udev can be used (a udev context and /sys).
    LinuxHidSystem();
    ~LinuxHidSystem() override;

    bool available() const override { return udev_ != nullptr; }
    std::vector<HidInterfaceInfo> listInterfaces() override;
    HidAccess probeAccess(const std::string& path, int& errorCode) override;
    std::uint16_t inputReportLength(const std::string& path) override;
    HidInputReportInfo inputReportInfo(const std::string& path) override;
    std::unique_ptr<HidReadPort> makeReadPort() override;

    /// A monitor of hidraw nodes added and removed (a udev netlink socket).
    /// nullptr when udev is unavailable or the socket can't be made; the
    /// reason then goes to stderr.
    std::unique_ptr<HidDeviceMonitor> openMonitor() override;

    /// udev's rule, the hidraw node and the kernel log (LinuxHidAdvice).
    const HidAdvice& advice() const override { return advice_; }

private:
    struct UdevUnref {
        void operator()(udev* context) const;
    };
    std::unique_ptr<udev, UdevUnref> udev_;
    LinuxHidAdvice advice_;
};

/// An errno value as the driver judges it: a node gone with its device, access
/// refused, resources short for now, or anything else; 0 is no error.
HidError hidErrorFromErrno(int errorNumber);

} // namespace oru
