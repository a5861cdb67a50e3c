#pragma once

#include "fakes/EmulatedPenTracker.h"
#include "platform/HidSystem.h"
#include "platform/linux/LinuxHidReadPort.h"
#include "platform/linux/LinuxHidSystem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace oru::test {

/// One emulated pen tracker whose node is a FIFO, read by the real hidraw
/// read port (poll + read + eventfd): the reader, the hand-off and the main
/// loop run as in the program, without umockdev's preload in the way. The
/// FIFO is a byte stream like umockdev's node; the port reads one report's
/// length at a time.
class FifoPenTracker final : public HidSystem {
public:
    FifoPenTracker()
    {
        char dir[] = "/tmp/oru-fifo-tracker.XXXXXX";
        if (!::mkdtemp(dir)) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
        dir_ = dir;
        path_ = dir_ + "/hidraw0";
        if (::mkfifo(path_.c_str(), 0600) != 0) {
            throw std::runtime_error(std::string("mkfifo: ") + std::strerror(errno));
        }
        // Read-write, so the writer neither blocks nor needs a reader yet.
        writeFd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
        if (writeFd_ < 0) throw std::runtime_error(std::string("open fifo: ") + std::strerror(errno));
    }
    ~FifoPenTracker() override
    {
        ::close(writeFd_);
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    FifoPenTracker(const FifoPenTracker&) = delete;
    FifoPenTracker& operator=(const FifoPenTracker&) = delete;

    /// Makes one report readable. Any thread; allocates nothing.
    bool write(const emulated::Report& report)
    {
        return ::write(writeFd_, report.data(), report.size()) == static_cast<ssize_t>(report.size());
    }

    /// Bytes written and not yet read (a FIFO's FIONREAD answers on either end).
    std::size_t pendingBytes() const
    {
        int bytes = 0;
        return ::ioctl(writeFd_, FIONREAD, &bytes) == 0 ? static_cast<std::size_t>(bytes) : 0;
    }

    const std::string& path() const { return path_; }

    bool available() const override { return true; }
    std::vector<HidInterfaceInfo> listInterfaces() override
    {
        return {HidInterfaceInfo{path_, emulated::identity(), emulated::kVendorId, emulated::kProductId,
                                 emulated::kVersion}};
    }
    HidAccess probeAccess(const std::string&, int& errorCode) override
    {
        errorCode = 0;
        return HidAccess::ReadWrite;
    }
    std::uint16_t inputReportLength(const std::string&) override { return emulated::kInputReportLength; }
    std::unique_ptr<HidReadPort> makeReadPort() override { return makeHidrawReadPort(); }
    std::unique_ptr<HidDeviceMonitor> openMonitor() override { return nullptr; }

private:
    std::string dir_;
    std::string path_;
    int writeFd_ = -1;
};

} // namespace oru::test
