#include "platform/linux/LinuxHidSystem.h"

#include "device/HidReportDescriptor.h"
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

// The kernel keeps report descriptors to this size (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t kMaxDescriptorBytes = 4096;

std::string nodeName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// /sys/class/hidraw/<node> links to <hid device>/hidraw/<node>, so the hid
// device's report_descriptor is two levels up. Path walking resolves the
// link before "..", which also holds under umockdev's sysfs.
// errorCode receives why the descriptor can't be had; an empty one counts as
// missing (ENODATA).
std::optional<std::vector<std::uint8_t>> readSysfsDescriptor(const std::string& path, int& errorCode)
{
    const std::string name = nodeName(path);
    if (name.empty() || name == "." || name == "..") {
        errorCode = ENOENT;
        return std::nullopt;
    }
    const std::string file = "/sys/class/hidraw/" + name + "/../../report_descriptor";
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        errorCode = errno;
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(kMaxDescriptorBytes);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            errorCode = errno;
            return std::nullopt;
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    if (filled == 0) {
        errorCode = ENODATA;
        return std::nullopt;
    }
    bytes.resize(filled);
    return bytes;
}

std::optional<std::vector<std::uint8_t>> ioctlDescriptor(int fd)
{
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
        return std::nullopt;
    }
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<__u32>(size);
    if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) return std::nullopt;
    return std::vector<std::uint8_t>(descriptor.value, descriptor.value + size);
}

// The node's report descriptor: from sysfs, else from the node itself (opened
// here when openFd is -1). errorCode: why sysfs had none, when neither worked.
std::optional<std::vector<std::uint8_t>> descriptorBytes(const std::string& path, int openFd, int& errorCode)
{
    auto bytes = readSysfsDescriptor(path, errorCode);
    if (bytes) return bytes;
    if (openFd >= 0) return ioctlDescriptor(openFd);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    return fd ? ioctlDescriptor(fd.get()) : std::nullopt;
}

// Layout of the node's reports: from sysfs, else from the open node itself.
std::optional<HidReportLayout> reportLayout(const std::string& path, int openFd)
{
    int error = 0;
    const auto bytes = descriptorBytes(path, openFd, error);
    if (!bytes) return std::nullopt;
    return parseReportDescriptor(*bytes);
}

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

class HidrawReadPort final : public HidReadPort {
public:
    HidrawReadPort() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        if (!wakeFd_) {
            throw std::runtime_error(std::string("Cannot create an eventfd for a HID reader: ") +
                                     std::strerror(errno) + " (raise the process's file limit)");
        }
    }

    bool open(const std::string& path, HidError& error) override
    {
        close();
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!fd) {
            error = hidErrorFromErrno(errno);
            return false;
        }
        const auto layout = reportLayout(path, fd.get());
        numbered_ = layout && layout->numberedReports;
        node_ = std::move(fd);
        polledNode_.store(node_.get(), std::memory_order_release);
        error = {};
        return true;
    }

    void close() override
    {
        polledNode_.store(-1, std::memory_order_release);
        node_.reset();
        reportWaiting_ = false;
    }
    bool isOpen() const override { return static_cast<bool>(node_); }

    HidReadResult read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        if (!node_) return {HidReadStatus::Failed, 0, hidErrorFromErrno(EBADF)};
        // hidraw leaves out the report-ID byte of a device without numbered
        // reports: read such a report after a leading 0.
        const std::size_t skip = numbered_ ? 0 : 1;
        if (length <= skip) return {HidReadStatus::Failed, 0, hidErrorFromErrno(EMSGSIZE)};

        // A report that waitForReport found waiting is read without a second
        // poll, unless a wake-up came in between.
        if (!std::exchange(reportWaiting_, false) || wakeRequested_.load(std::memory_order_acquire)) {
            const HidReadResult ready = waitForReport(timeoutMs);
            reportWaiting_ = false;
            if (ready.status != HidReadStatus::Report) return ready;
        }

        const ssize_t n = ::read(node_.get(), buffer + skip, length - skip);
        if (n > 0) {
            if (skip) buffer[0] = 0;
            return {HidReadStatus::Report, static_cast<std::size_t>(n) + skip, {}};
        }
        if (n == 0) return gone();
        if (errno == EAGAIN || errno == EINTR) return {HidReadStatus::TimedOut, 0, {}};
        if (errno == EIO || errno == ENODEV) return gone();
        return {HidReadStatus::Failed, 0, hidErrorFromErrno(errno)};
    }

    HidReadResult waitForReport(int timeoutMs) override
    {
        if (!node_) return {HidReadStatus::Failed, 0, hidErrorFromErrno(EBADF)};
        pollfd fds[2] = {{wakeFd_.get(), POLLIN, 0}, {node_.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) return {HidReadStatus::TimedOut, 0, {}};
            return {HidReadStatus::Failed, 0, hidErrorFromErrno(errno)};
        }
        if (fds[0].revents & POLLIN) {
            drainWake();
            return {HidReadStatus::Woken, 0, {}};
        }
        if (ready == 0) return {HidReadStatus::TimedOut, 0, {}};
        if (!(fds[1].revents & POLLIN) && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) return gone();
        reportWaiting_ = true;
        return {HidReadStatus::Report, 0, {}};
    }

    bool reportWaiting() const override
    {
        // The reader may close the node meanwhile: a closed one says POLLNVAL.
        pollfd fd = {polledNode_.load(std::memory_order_acquire), POLLIN, 0};
        return fd.fd >= 0 && ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
    }

    void pause(int timeoutMs) override
    {
        pollfd fd = {wakeFd_.get(), POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) > 0) drainWake();
    }

    void wake() override
    {
        wakeRequested_.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        // A full counter (never in practice) still leaves the eventfd readable.
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
    }

private:
    HidError goneError() const override { return hidErrorFromErrno(ENODEV); }

    HidReadResult gone()
    {
        close();
        return {HidReadStatus::Gone, 0, {}};
    }
    void drainWake()
    {
        wakeRequested_.store(false, std::memory_order_release);
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_.get(), &count, sizeof count);
    }

    UniqueFd wakeFd_;
    UniqueFd node_;
    bool numbered_ = false;
    bool reportWaiting_ = false;             // the last waitForReport found one
    std::atomic<bool> wakeRequested_{false};  // wake() since the last drainWake()
    std::atomic<int> polledNode_{-1};         // node_, for reportWaiting() on another thread
};

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
    const auto bytes = descriptorBytes(path, -1, error);
    if (!bytes) return {0, HidDescriptorStatus::Unreadable, hidErrorFromErrno(error)};
    const auto layout = parseReportDescriptor(*bytes);
    if (!layout) return {0, HidDescriptorStatus::Malformed, {}};
    if (layout->inputReportLength == 0) return {0, HidDescriptorStatus::NoInputReport, {}};
    return {layout->inputReportLength, HidDescriptorStatus::Usable, {}};
}

std::unique_ptr<HidReadPort> LinuxHidSystem::makeReadPort() { return makeHidrawReadPort(); }

std::unique_ptr<HidReadPort> makeHidrawReadPort() { return std::make_unique<HidrawReadPort>(); }

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
