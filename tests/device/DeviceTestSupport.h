#pragma once

// Shared set-up of the device-layer tests: a fake HID layer, the test's own
// main-thread loop, a controller over both, and handlers that log what they
// were called with.

#include "device/HidDeviceController.h"
#include "fakes/EmulatedPenTracker.h"
#include "fakes/FakeHidSystem.h"
#include "fakes/TestMainThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace oru::test {

/// Collects diagnostic lines; safe to call from reader threads.
class DiagnosticLog {
public:
    DiagnosticSink sink()
    {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> lines()
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

/// Receives the controller's and the records' events; everything runs on
/// the main (test) thread, which each handler checks.
struct EventLog {
    std::thread::id mainThread = std::this_thread::get_id();
    std::vector<std::string> events;
    std::vector<std::vector<std::uint8_t>> reports;  // data bytes of each report
    std::vector<std::uint8_t> reportIds;
    std::vector<std::uint32_t> errors;
    int offMainThread = 0;
    std::function<void(THidDevice&)> onReport;  // extra action inside the report handler

    void deviceChange(THidDeviceController&) { note("change"); }
    void otherDeviceChange(THidDeviceController&) { note("other change"); }
    void arrival(THidDevice& device)
    {
        note("arrival " + device.InstanceId() + (device.InPlugCallback() && device.Accessible() ? " in-callback" : ""));
    }
    void removal(THidDevice& device)
    {
        note("removal " + device.InstanceId() + (device.InPlugCallback() ? " in-callback" : ""));
    }
    void unplugged(THidDevice& device) { note("unplugged " + device.InstanceId()); }
    void report(THidDevice& device, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size)
    {
        if (std::this_thread::get_id() != mainThread) ++offMainThread;
        reportIds.push_back(reportId);
        reports.emplace_back(data, data + size);
        if (onReport) onReport(device);
    }
    void otherReport(THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) { note("other report"); }
    void error(THidDevice&, std::uint32_t code)
    {
        if (std::this_thread::get_id() != mainThread) ++offMainThread;
        errors.push_back(code);
    }

    TNotifyEvent changeHandler() { return TNotifyEvent::bind<&EventLog::deviceChange>(*this); }
    THidDataEvent reportHandler() { return THidDataEvent::bind<&EventLog::report>(*this); }
    THidDataErrorEvent errorHandler() { return THidDataErrorEvent::bind<&EventLog::error>(*this); }
    THidPlugEvent unplugHandler() { return THidPlugEvent::bind<&EventLog::unplugged>(*this); }

    int count(const std::string& event) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }

private:
    void note(std::string event) { events.push_back(std::move(event)); }
};

class DeviceTest : public ::testing::Test {
protected:
    DeviceTest() { controller.emplace(hid, mainThread, diagnostics.sink()); }
    ~DeviceTest() override { controller.reset(); }

    /// A loaded controller after its first (posted) rescan.
    void loadAndRunFirstRescan()
    {
        controller->Loaded();
        controller->runPending();
    }

    std::shared_ptr<FakeHidSystem::Device> plugTracker(const std::string& identity,
                                                       HidAccess access = HidAccess::ReadWrite)
    {
        return hid.plug(identity, emulated::kVendorId, emulated::kProductId, access);
    }

    void pushTrackerReport(const std::string& identity, const emulated::Report& report)
    {
        hid.pushReport(identity, std::vector<std::uint8_t>(report.begin(), report.end()));
    }

    template <typename Done>
    bool pumpUntil(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return mainThread.pumpUntil([&] { controller->runPending(); }, done, timeout);
    }

    std::vector<std::string> listedIds() const
    {
        std::vector<std::string> ids;
        for (std::size_t i = 0; i < controller->Count(); ++i) ids.push_back(controller->at(i).InstanceId());
        return ids;
    }

    FakeHidSystem hid;
    TestMainThread mainThread;
    DiagnosticLog diagnostics;
    EventLog log;
    std::optional<THidDeviceController> controller;
};

} // namespace oru::test
