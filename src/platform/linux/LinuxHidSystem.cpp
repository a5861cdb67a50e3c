#include "platform/linux/LinuxHidSystem.h"

#include "device/HidReportDescriptor.h"
#include "platform/linux/LinuxHidReadPort.h"
#include "platform/linux/UniqueFd.h"

#include <libudev.h>
#include <linux/hidraw.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace oru {

namespace {

struct EnumerateUnref {
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
struct DeviceUnref {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
struct MonitorUnref {
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
using EnumeratePtr = std::unique_ptr<udev_enumerate, EnumerateUnref>;
using DevicePtr = std::unique_ptr<udev_device, DeviceUnref>;
using MonitorPtr = std::unique_ptr<udev_monitor, MonitorUnref>;

// HID_ID is "bus:vendor:product" in hex, e.g. "0003:00000020:00000002".
bool parseHidId(const char* text, std::uint16_t& vendorId, std::uint16_t& productId)
{
    unsigned bus = 0;
    unsigned long vendor = 0, product = 0;
    if (!text || std::sscanf(text, "%x:%lx:%lx", &bus, &vendor, &product) != 3) return false;
    if (vendor > 0xFFFF || product > 0xFFFF) return false;
    vendorId = static_cast<std::uint16_t>(vendor);
    productId = static_cast<std::uint16_t>(product);
    return true;
}

std::uint16_t usbVersion(udev_device* node)
{
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
    if (!usb) return 0;
    const char* text = udev_device_get_sysattr_value(usb, "bcdDevice");
    unsigned long version = 0;
    if (!text || std::sscanf(text, "%lx", &version) != 1 || version > 0xFFFF) return 0;
    return static_cast<std::uint16_t>(version);
}

class UdevHidMonitor final : public HidDeviceMonitor {
public:
    explicit UdevHidMonitor(MonitorPtr monitor) : monitor_(std::move(monitor)) {}

    int fd() const override { return udev_monitor_get_fd(monitor_.get()); }

    bool drainChanges() override
    {
        bool changed = false;
        while (DevicePtr device{udev_monitor_receive_device(monitor_.get())}) {
            const char* action = udev_device_get_action(device.get());
            if (action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) changed = true;
        }
        return changed;
    }

private:
    MonitorPtr monitor_;
};

} // namespace

HidError hidErrorFromErrno(int errorNumber)
{
    switch (errorNumber) {
    case 0: return {};
    case ENOENT:
    case ENODEV:
    case ENXIO: return {HidErrorKind::DeviceGone, errorNumber};
    case EACCES:
    case EPERM: return {HidErrorKind::NoAccess, errorNumber};
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EAGAIN:
    case EINTR: return {HidErrorKind::Transient, errorNumber};
    default: return {HidErrorKind::Other, errorNumber};
    }
}

void LinuxHidSystem::UdevUnref::operator()(udev* context) const { udev_unref(context); }

LinuxHidSystem::LinuxHidSystem()
{
    struct stat sys {};
    if (::stat("/sys", &sys) != 0 || !S_ISDIR(sys.st_mode)) return;
    udev_.reset(udev_new());
}

LinuxHidSystem::~LinuxHidSystem() = default;

std::vector<HidInterfaceInfo> LinuxHidSystem::listInterfaces()
{
    std::vector<HidInterfaceInfo> found;
    if (!udev_) return found;
    EnumeratePtr enumerate(udev_enumerate_new(udev_.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return found;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        DevicePtr node(udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry)));
        if (!node) continue;  // went away since the scan
        const char* devnode = udev_device_get_devnode(node.get());
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr);
        if (!devnode || !hid) continue;
        HidInterfaceInfo info;
        if (!parseHidId(udev_device_get_property_value(hid, "HID_ID"), info.vendorId, info.productId)) continue;
        info.path = devnode;
        info.identity = udev_device_get_sysname(hid);
        info.version = usbVersion(node.get());
        found.push_back(std::move(info));
    }
    return found;
}

HidAccess LinuxHidSystem::probeAccess(const std::string& path, int& errorCode)
{
    // The kernel's permission check (modes and the ACL that udev's uaccess
    // tag adds) without opening the node: an open would power up every HID
    // device the user may open, at every rescan.
    if (::access(path.c_str(), R_OK | W_OK) == 0) {
        errorCode = 0;
        return HidAccess::ReadWrite;
    }
    errorCode = errno;
    return hidErrorFromErrno(errorCode).kind == HidErrorKind::DeviceGone ? HidAccess::Missing : HidAccess::QueryOnly;
}

std::uint16_t LinuxHidSystem::inputReportLength(const std::string& path) { return inputReportInfo(path).length; }

HidInputReportInfo LinuxHidSystem::inputReportInfo(const std::string& path)
{
    int error = 0;
    const auto bytes = hidrawDescriptorBytes(path, -1, error);
    if (!bytes) return {0, HidDescriptorStatus::Unreadable, hidErrorFromErrno(error)};
    const auto layout = parseReportDescriptor(*bytes);
    if (!layout) return {0, HidDescriptorStatus::Malformed, {}};
    if (layout->inputReportLength == 0) return {0, HidDescriptorStatus::NoInputReport, {}};
    return {layout->inputReportLength, HidDescriptorStatus::Usable, {}};
}

std::unique_ptr<HidReadPort> LinuxHidSystem::makeReadPort() { return makeHidrawReadPort(); }

std::unique_ptr<HidDeviceMonitor> LinuxHidSystem::openMonitor()
{
    if (!udev_) return nullptr;
    MonitorPtr monitor(udev_monitor_new_from_netlink(udev_.get(), "udev"));
    if (!monitor) {
        std::cerr << "oruDriver: cannot listen for udev events (udev_monitor_new_from_netlink failed: "
                  << std::strerror(errno) << "); plugging devices in or out will go unnoticed until the driver "
                  << "is restarted. Check that systemd-udevd is running.\n";
        return nullptr;
    }
    const int filtered = udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr);
    const int receiving = filtered < 0 ? filtered : udev_monitor_enable_receiving(monitor.get());
    if (receiving < 0) {
        std::cerr << "oruDriver: cannot receive udev events for hidraw: " << std::strerror(-receiving)
                  << "; plugging devices in or out will go unnoticed until the driver is restarted.\n";
        return nullptr;
    }
    const int fd = udev_monitor_get_fd(monitor.get());
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    return std::make_unique<UdevHidMonitor>(std::move(monitor));
}

} // namespace oru
