#include "kernel/UhidTracker.h"

#include <linux/uhid.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace oru::emulated {

namespace {

using Clock = std::chrono::steady_clock;

std::runtime_error failure(const std::string& what, int error)
{
    return std::runtime_error(what + ": " + std::strerror(error));
}

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

/// A text unique to this device among all uhid devices of the machine: the
/// kernel shows it as HID_UNIQ, which finds the device's hidraw node.
std::string uniqueText()
{
    static std::atomic<int> counter{0};
    return "oru-uhid-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

} // namespace

UhidTracker::UhidTracker(Options options, std::chrono::milliseconds timeout)
    : options_(options), uniq_(uniqueText())
{
    const auto deadline = Clock::now() + timeout;
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        throw failure("cannot open /dev/uhid (needs root and the uhid module)", errno);
    }
    const std::vector<std::uint8_t> descriptor =
        options_.numberedReports ? numberedReportDescriptor() : reportDescriptor();
    uhid_event event{};
    event.type = UHID_CREATE2;
    auto& create = event.u.create2;
    std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "%s", std::string(kProductName).c_str());
    std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "oru-test/uhid");
    std::snprintf(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, "%s", uniq_.c_str());
    create.rd_size = static_cast<std::uint16_t>(descriptor.size());
    create.bus = 0x03;  // BUS_USB
    create.vendor = options_.vendorId;
    create.product = options_.productId;
    create.version = kVersion;
    std::memcpy(create.rd_data, descriptor.data(), descriptor.size());
    if (::write(fd_, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        throw failure("the kernel refused to create the uhid device", error);
    }
    // The kernel adds the device in the background; hid-generic binding it
    // (UHID_START) comes before the hidraw node.
    while (!started_ && remainingMs(deadline) > 0) handleOneEvent(remainingMs(deadline));
    if (!started_) {
        unplug();
        throw std::runtime_error("the uhid device was not started by a HID driver within the time limit "
                                 "(is hid-generic loaded?)");
    }
    findNode(deadline);
}

UhidTracker::~UhidTracker() { unplug(); }

void UhidTracker::findNode(Clock::time_point deadline)
{
    namespace fs = std::filesystem;
    while (true) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
            std::ifstream uevent(entry.path() / "device" / "uevent");
            for (std::string line; std::getline(uevent, line);) {
                if (line != "HID_UNIQ=" + uniq_) continue;
                const std::string node = "/dev/" + entry.path().filename().string();
                struct stat st {};
                if (::stat(node.c_str(), &st) != 0) break;  // devtmpfs has not made it yet
                node_ = node;
                identity_ = fs::canonical(entry.path() / "device", error).filename().string();
                if (error) throw std::runtime_error("cannot resolve " + (entry.path() / "device").string());
                return;
            }
        }
        if (remainingMs(deadline) == 0) {
            unplug();
            throw std::runtime_error("no hidraw node appeared for the uhid device " + uniq_);
        }
        // Nothing to wait on for a sysfs entry: look again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool UhidTracker::handleOneEvent(int timeoutMs)
{
    if (fd_ < 0) return false;
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0) return false;
    uhid_event event{};
    const ssize_t n = ::read(fd_, &event, sizeof event);
    if (n < static_cast<ssize_t>(sizeof event.type)) return false;
    switch (event.type) {
    case UHID_START:
        started_ = true;
        break;
    case UHID_STOP:
        started_ = false;
        break;
    case UHID_OPEN:
        open_ = true;
        break;
    case UHID_CLOSE:
        open_ = false;
        break;
    case UHID_GET_REPORT: {
        // The tracker has no feature reports: answer at once, or the caller
        // waits out the kernel's time limit.
        uhid_event reply{};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = event.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        [[maybe_unused]] const ssize_t w = ::write(fd_, &reply, sizeof reply);
        break;
    }
    case UHID_SET_REPORT: {
        uhid_event reply{};
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = event.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
        [[maybe_unused]] const ssize_t w = ::write(fd_, &reply, sizeof reply);
        break;
    }
    default:  // output reports: the tracker has none and ignores them
        break;
    }
    return true;
}

void UhidTracker::handleEvents()
{
    while (handleOneEvent(0)) {
    }
}

bool UhidTracker::waitOpen(bool open, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    handleEvents();
    while (open_ != open && fd_ >= 0) {
        const int left = remainingMs(deadline);
        if (left == 0) return false;
        handleOneEvent(left);
    }
    return open_ == open;
}

bool UhidTracker::send(const std::uint8_t* bytes, std::size_t size)
{
    if (fd_ < 0 || size > UHID_DATA_MAX) return false;
    handleEvents();
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<std::uint16_t>(size);
    std::memcpy(event.u.input2.data, bytes, size);
    // Only the header and the bytes used: the kernel takes a short write.
    const std::size_t length = offsetof(uhid_event, u.input2.data) + size;
    return ::write(fd_, &event, length) == static_cast<ssize_t>(length);
}

bool UhidTracker::send(const Report& report)
{
    if (!options_.numberedReports) return send(report.data(), report.size());
    std::uint8_t bytes[kReportDataBytes + 1] = {kNumberedReportId};
    std::memcpy(bytes + 1, report.data(), report.size());
    return send(bytes, sizeof bytes);
}

void UhidTracker::unplug()
{
    if (fd_ < 0) return;
    uhid_event event{};
    event.type = UHID_DESTROY;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &event, sizeof event);
    ::close(fd_);  // closing destroys it too
    fd_ = -1;
    open_ = false;
    started_ = false;
}

} // namespace oru::emulated
