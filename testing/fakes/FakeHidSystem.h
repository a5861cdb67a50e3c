#pragma once

#include "platform/HidSystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace oru::test {

/// An in-memory HID layer: the test plugs and unplugs interfaces and queues
/// reports; reader threads read them through fake read ports that block
/// like the real ones (until a report, a timeout, a wake-up or an unplug).
class FakeHidSystem final : public HidSystem {
public:
    struct Device {
        HidInterfaceInfo info;
        HidAccess access = HidAccess::ReadWrite;
        std::uint16_t reportLength = 6;
        HidDescriptorStatus descriptor = HidDescriptorStatus::Usable;  // else reportLength counts as 0
        HidError descriptorError;                                     // with Unreadable
        bool present = true;
        HidError openError;  // set: read-port opens fail with it
        HidError readError;  // set: reads fail with it
        std::deque<std::vector<std::uint8_t>> reports;  // as read: ID byte first
    };

    bool isAvailable = true;
    bool listFails = false;  // the list can't be obtained this time
    std::atomic<int> readCalls{0};
    std::atomic<int> openAttempts{0};
    std::atomic<int> portOpens{0};
    std::atomic<int> openPorts{0};
    int probes = 0;
    int monitorsOpened = 0;

    /// Plugs an interface in at the end of the enumeration order.
    std::shared_ptr<Device> plug(HidInterfaceInfo info, HidAccess access = HidAccess::ReadWrite,
                                 std::uint16_t reportLength = 6)
    {
        std::lock_guard lock(mutex_);
        auto device = std::make_shared<Device>();
        device->info = std::move(info);
        device->access = access;
        device->reportLength = reportLength;
        devices_.push_back(device);
        return device;
    }

    std::shared_ptr<Device> plug(const std::string& identity, std::uint16_t vendorId, std::uint16_t productId,
                                 HidAccess access = HidAccess::ReadWrite)
    {
        return plug(HidInterfaceInfo{"/dev/hidraw-" + identity, identity, vendorId, productId, 0x0100}, access);
    }

    /// Unplugs: listed no more; its read ports see the device gone.
    void unplug(const std::string& identity)
    {
        std::lock_guard lock(mutex_);
        for (auto& device : devices_) {
            if (device->info.identity == identity) device->present = false;
        }
        std::erase_if(devices_, [&](const auto& device) { return device->info.identity == identity; });
        signal_.notify_all();
    }

    /// Queues one report (data bytes; the report ID goes in front).
    void pushReport(const std::string& identity, const std::vector<std::uint8_t>& data, std::uint8_t reportId = 0)
    {
        std::lock_guard lock(mutex_);
        for (auto& device : devices_) {
            if (device->info.identity != identity) continue;
            std::vector<std::uint8_t> report{reportId};
            report.insert(report.end(), data.begin(), data.end());
            device->reports.push_back(std::move(report));
        }
        signal_.notify_all();
    }

    std::size_t queuedReports(const std::string& identity)
    {
        std::lock_guard lock(mutex_);
        for (auto& device : devices_) {
            if (device->info.identity == identity) return device->reports.size();
        }
        return 0;
    }

    /// Changes a device's state under the lock the readers use.
    template <typename Change>
    void change(const std::string& identity, Change change)
    {
        std::lock_guard lock(mutex_);
        for (auto& device : devices_) {
            if (device->info.identity == identity) change(*device);
        }
        signal_.notify_all();
    }

    bool available() const override { return isAvailable; }

    std::vector<HidInterfaceInfo> listInterfaces() override
    {
        std::lock_guard lock(mutex_);
        std::vector<HidInterfaceInfo> list;
        if (listFails) return list;
        for (const auto& device : devices_) list.push_back(device->info);
        return list;
    }

    HidAccess probeAccess(const std::string& path, int& errorCode) override
    {
        std::lock_guard lock(mutex_);
        ++probes;
        const auto device = find(path);
        const HidAccess access = device ? device->access : HidAccess::Missing;
        errorCode = access == HidAccess::ReadWrite ? 0 : access == HidAccess::QueryOnly ? EACCES : ENOENT;
        return access;
    }

    std::uint16_t inputReportLength(const std::string& path) override { return inputReportInfo(path).length; }

    HidInputReportInfo inputReportInfo(const std::string& path) override
    {
        std::lock_guard lock(mutex_);
        const auto device = find(path);
        if (!device) return {0, HidDescriptorStatus::Unreadable, {HidErrorKind::DeviceGone, ENOENT}};
        if (device->descriptor != HidDescriptorStatus::Usable) return {0, device->descriptor, device->descriptorError};
        return {device->reportLength, HidDescriptorStatus::Usable, {}};
    }

    /// From now on the read ports' pauses take no real time: each adds its
    /// length to a virtual clock and returns at once, until the clock reaches
    /// limitMs; that pause then waits for a wake-up like a pause without end.
    void startVirtualTime(int limitMs)
    {
        std::lock_guard lock(mutex_);
        virtualTime_ = true;
        virtualNowMs_ = 0;
        virtualLimitMs_ = limitMs;
        pauses_.clear();
    }
    /// The pauses asked for since startVirtualTime, ms.
    std::vector<int> pauses()
    {
        std::lock_guard lock(mutex_);
        return pauses_;
    }
    bool virtualTimeUsedUp()
    {
        std::lock_guard lock(mutex_);
        return virtualTime_ && virtualNowMs_ >= virtualLimitMs_;
    }

    /// Readers held up (a busy machine): reports stay in the devices, unread,
    /// until released.
    void holdReaders(bool held)
    {
        std::lock_guard lock(mutex_);
        readersHeld_ = held;
        signal_.notify_all();
    }

    std::unique_ptr<HidReadPort> makeReadPort() override { return std::make_unique<Port>(*this); }

    std::unique_ptr<HidDeviceMonitor> openMonitor() override
    {
        ++monitorsOpened;
        return std::make_unique<Monitor>(*this);
    }

    /// What the fake monitor reports at its next drain.
    bool pendingChange = false;
    static constexpr int kMonitorFd = 1000;
    /// What the fake monitor gives as its fd; -1 for a program under test
    /// that would watch it in a real event loop.
    int monitorFd = kMonitorFd;

private:
    class Monitor final : public HidDeviceMonitor {
    public:
        explicit Monitor(FakeHidSystem& system) : system_(system) {}
        int fd() const override { return system_.monitorFd; }
        bool drainChanges() override { return std::exchange(system_.pendingChange, false); }

    private:
        FakeHidSystem& system_;
    };

    class Port final : public HidReadPort {
    public:
        explicit Port(FakeHidSystem& system) : system_(system) {}
        ~Port() override { close(); }

        bool open(const std::string& path, HidError& error) override
        {
            ++system_.openAttempts;
            std::lock_guard lock(system_.mutex_);
            closeLocked();
            auto device = system_.find(path);
            if (!device) {
                error = {HidErrorKind::DeviceGone, ENOENT};
                return false;
            }
            if (device->openError) {
                error = device->openError;
                return false;
            }
            device_ = device;
            ++system_.portOpens;
            ++system_.openPorts;
            error = {};
            return true;
        }
        void close() override
        {
            std::lock_guard lock(system_.mutex_);
            closeLocked();
        }
        bool isOpen() const override { return device_ != nullptr; }

        HidReadResult read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
        {
            ++system_.readCalls;
            std::unique_lock lock(system_.mutex_);
            if (!device_) return {HidReadStatus::Failed, 0, {HidErrorKind::Other, EBADF}};
            if (length < 2) return {HidReadStatus::Failed, 0, {HidErrorKind::Other, EMSGSIZE}};
            const HidReadResult waited = waitLocked(lock, timeoutMs);
            if (waited.status != HidReadStatus::Report) return waited;
            const auto report = std::move(device_->reports.front());
            device_->reports.pop_front();
            const std::size_t bytes = std::min(length, report.size());
            std::memcpy(buffer, report.data(), bytes);
            return {HidReadStatus::Report, bytes, {}};
        }

        bool reportWaiting() const override
        {
            std::lock_guard lock(system_.mutex_);
            return device_ && !device_->reports.empty();
        }

        HidReadResult waitForReport(int timeoutMs) override
        {
            std::unique_lock lock(system_.mutex_);
            if (!device_) return {HidReadStatus::Failed, 0, {HidErrorKind::Other, EBADF}};
            return waitLocked(lock, timeoutMs);
        }

        void pause(int timeoutMs) override
        {
            std::unique_lock lock(system_.mutex_);
            if (system_.virtualTime_ && !woken_) {
                system_.pauses_.push_back(timeoutMs);
                system_.virtualNowMs_ += timeoutMs;
                if (system_.virtualNowMs_ < system_.virtualLimitMs_) return;
                system_.signal_.wait(lock, [&] { return woken_; });
            } else {
                system_.signal_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return woken_; });
            }
            woken_ = false;
        }

        void wake() override
        {
            std::lock_guard lock(system_.mutex_);
            woken_ = true;
            system_.signal_.notify_all();
        }

    private:
        /// Waits for a report, a wake-up, the device's going or its read
        /// error; Report (no bytes) when a report is there to take.
        HidReadResult waitLocked(std::unique_lock<std::mutex>& lock, int timeoutMs)
        {
            const auto ready = [&] {
                return woken_ || !device_->present || device_->readError ||
                       (!device_->reports.empty() && !system_.readersHeld_);
            };
            if (timeoutMs == kNoTimeout) system_.signal_.wait(lock, ready);
            else system_.signal_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
            if (std::exchange(woken_, false)) return {HidReadStatus::Woken, 0, {}};
            if (!device_->present) {
                closeLocked();
                return {HidReadStatus::Gone, 0, {}};
            }
            if (device_->readError) return {HidReadStatus::Failed, 0, device_->readError};
            if (device_->reports.empty()) return {HidReadStatus::TimedOut, 0, {}};
            return {HidReadStatus::Report, 0, {}};
        }

        void closeLocked()
        {
            if (device_) --system_.openPorts;
            device_.reset();
        }

        FakeHidSystem& system_;
        std::shared_ptr<Device> device_;
        bool woken_ = false;
    };

    std::shared_ptr<Device> find(const std::string& path) const
    {
        for (const auto& device : devices_) {
            if (device->info.path == path) return device;
        }
        return nullptr;
    }

    mutable std::mutex mutex_;
    std::condition_variable signal_;
    std::vector<std::shared_ptr<Device>> devices_;
    bool virtualTime_ = false;
    bool readersHeld_ = false;
    long long virtualNowMs_ = 0;
    long long virtualLimitMs_ = 0;
    std::vector<int> pauses_;
};

} // namespace oru::test
