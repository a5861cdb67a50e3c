#include "platform/linux/LinuxHidReadPort.h"

#include "device/HidReportDescriptor.h"
#include "platform/linux/LinuxHidSystem.h"
#include "platform/linux/UniqueFd.h"

#include <linux/hidraw.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace oru {

namespace {

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

} // namespace

std::optional<std::vector<std::uint8_t>> hidrawDescriptorBytes(const std::string& path, int openFd, int& errorCode)
{
    auto bytes = readSysfsDescriptor(path, errorCode);
    if (bytes) return bytes;
    if (openFd >= 0) return ioctlDescriptor(openFd);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    return fd ? ioctlDescriptor(fd.get()) : std::nullopt;
}

namespace {

// Layout of the node's reports: from sysfs, else from the open node itself.
std::optional<HidReportLayout> reportLayout(const std::string& path, int openFd)
{
    int error = 0;
    const auto bytes = hidrawDescriptorBytes(path, openFd, error);
    if (!bytes) return std::nullopt;
    return parseReportDescriptor(*bytes);
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

} // namespace

std::unique_ptr<HidReadPort> makeHidrawReadPort() { return std::make_unique<HidrawReadPort>(); }

} // namespace oru
