#include <umockdev.h>  // first: it must come before anything that pulls in Qt

#include "harness/TrackerTestbed.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace oru::harness {

namespace {

constexpr int kUsbPort = 1;

// Every plug gets hidraw<plug - 1> and hid instance <plug>: umockdev can't
// serve a node name twice, and the kernel numbers hid instances anew anyway.
int nodeNumber(int plug) { return plug - 1; }

} // namespace

TrackerTestbed::TrackerTestbed() : testbed_(umockdev_testbed_new())
{
    if (!testbed_) throw std::runtime_error("cannot create a umockdev test bed (is umockdev installed?)");
}

TrackerTestbed::~TrackerTestbed()
{
    if (plugged_) unplug();
    g_object_unref(testbed_);
}

std::string TrackerTestbed::nodePath() const { return "/dev/hidraw" + std::to_string(nodeNumber(plugs_)); }

void TrackerTestbed::plug()
{
    if (plugged_) return;
    ++plugs_;
    // umockdev announces each device of a description as it adds it, child
    // first; the kernel adds parents first, and the hidraw node's "add" must
    // not come before its hid parent carries HID_ID and the descriptor.
    const std::string description = emulated::umockdevDescription(nodeNumber(plugs_), kUsbPort, plugs_);
    std::vector<std::string> devices;
    for (std::size_t start = 0; start < description.size();) {
        const std::size_t end = description.find("\n\n", start);
        devices.push_back(description.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start));
        start = end == std::string::npos ? description.size() : end + 2;
    }
    for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed_, it->c_str(), &error)) {
            const std::string message = error ? error->message : "unknown error";
            if (error) g_error_free(error);
            throw std::runtime_error("umockdev refused the pen tracker's description: " + message);
        }
    }
    deviceFd_ = umockdev_testbed_get_dev_fd(testbed_, nodePath().c_str());
    if (deviceFd_ < 0) throw std::runtime_error("umockdev made no stream for " + nodePath());
    ::fcntl(deviceFd_, F_SETFL, ::fcntl(deviceFd_, F_GETFL) | O_NONBLOCK);
    nodeTarget_ = std::filesystem::read_symlink(rootDir() + nodePath()).string();
    plugged_ = true;
}

void TrackerTestbed::hangUp()
{
    // The device end is a pty master owned by the test bed, which closes it
    // itself at the end: put /dev/null in its place, which hangs the pty up
    // now (the driver's reads fail) and leaves the test bed a harmless
    // descriptor to close.
    if (deviceFd_ < 0) return;
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, deviceFd_);
        ::close(null);
    }
    deviceFd_ = -1;
}

void TrackerTestbed::unplug(UnplugOrder order, const std::function<void()>& waitForRelease)
{
    if (!plugged_) return;
    plugged_ = false;
    if (order == UnplugOrder::NodeFirst) hangUp();
    // udev tells its listeners of the removal only once the device has left
    // sysfs, so a rescan prompted by the event no longer lists it. umockdev
    // needs the device directory to send the event: take the node out of its
    // class first, then announce, then remove the rest.
    const int node = nodeNumber(plugs_);
    std::error_code ec;
    std::filesystem::remove(rootDir() + "/sys/class/hidraw/hidraw" + std::to_string(node), ec);
    const std::string hidraw = emulated::hidrawSysfsPath(node, kUsbPort, plugs_);
    umockdev_testbed_uevent(testbed_, hidraw.c_str(), "remove");
    if (order == UnplugOrder::AnnouncedFirst) {
        if (waitForRelease) waitForRelease();
        hangUp();
    }
    umockdev_testbed_remove_device(testbed_, hidraw.c_str());
    umockdev_testbed_remove_device(testbed_, emulated::hidSysfsPath(kUsbPort, plugs_).c_str());
    umockdev_testbed_remove_device(testbed_, emulated::usbSysfsPath(kUsbPort).c_str());
    // The test bed remembers which pty stood for which device number; the
    // pty freed above may come back for the next plug, so forget it.
    std::string ptyKey = nodeTarget_;
    std::replace(ptyKey.begin(), ptyKey.end(), '/', '_');
    std::filesystem::remove(rootDir() + "/dev/.ptymap/" + ptyKey, ec);
}

std::string TrackerTestbed::rootDir() const
{
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string path = root;
    g_free(root);
    return path;
}

bool TrackerTestbed::openedBy(pid_t pid) const
{
    if (nodeTarget_.empty()) return false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code linkError;
        if (std::filesystem::read_symlink(entry.path(), linkError).string() == nodeTarget_) return true;
    }
    return false;
}

bool TrackerTestbed::send(const emulated::Report& report, int timeoutMs)
{
    if (!plugged_) return false;
    // The node is a byte stream: a report goes in whole or not at all, or
    // every later report would be read out of step.
    std::size_t done = 0;
    while (done < report.size()) {
        pollfd fd{deviceFd_, POLLOUT, 0};
        const int ready = ::poll(&fd, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready != 1) {
            if (done == 0) return false;
            throw std::runtime_error("the driver stopped reading in the middle of a report");
        }
        const ssize_t n = ::write(deviceFd_, report.data() + done, report.size() - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) throw std::runtime_error(std::string("writing a report to the emulated tracker: ") + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace oru::harness
