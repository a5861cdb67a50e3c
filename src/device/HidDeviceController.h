#pragma once

#include "device/DiagnosticSink.h"
#include "device/HidDevice.h"
#include "device/HidEvents.h"
#include "device/MainThreadHandoff.h"
#include "platform/HidDeviceMonitor.h"
#include "platform/HidSystem.h"
#include "platform/MainThreadWaker.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace oru {

/// Keeps the list of HID interfaces present, one THidDevice each, follows
/// plug and unplug, and hands a device out to a user that claims it by
/// vendor and product ID. Main thread only. At most one lives per program.
///
/// The program drives it from its event loop:
///  - after construction and setting its handlers, Loaded() starts the
///    device notifications and posts the first rescan;
///  - when the monitor tells of waiting events (DeviceNotificationFd()
///    readable, or the platform's device-change message): DeviceNotificationReady();
///  - after every MainThreadWaker::wake(): runPending() (reports of the
///    readers, and the posted rescan).
class THidDeviceController {
public:
    /// EControllerError "Only one THidDeviceController allowed per program"
    /// when another controller lives. Starts in the loading state: handler
    /// setters store without rescanning until Loaded().
    THidDeviceController(HidSystem& system, MainThreadWaker& waker,
                         DiagnosticSink diagnostics = writeDiagnosticToStderr);
    /// Stops every reader (queued reports are dropped, not delivered) and
    /// destroys every record; a claimed record gets its unplug handling
    /// first. Pointers to records held elsewhere are invalid afterwards.
    ~THidDeviceController();
    THidDeviceController(const THidDeviceController&) = delete;
    THidDeviceController& operator=(const THidDeviceController&) = delete;

    /// Load completion: when HID access is available, opens the device
    /// monitor and posts the first rescan (it runs at the next runPending()).
    void Loaded();
    bool loading() const { return loading_; }
    /// Whether HID access works (decided once, by the backend).
    bool servicesAvailable() const { return system_.available(); }
    /// The HID layer, for its advice texts.
    const HidSystem& system() const { return system_; }

    /// File descriptor of the device monitor to watch for readability, or -1
    /// (no monitor, or one that tells its events another way).
    int DeviceNotificationFd() const;
    /// The monitor's fd is readable: takes its events and rescans when an
    /// interface was added or removed.
    void DeviceNotificationReady();
    /// Runs what the readers handed over and a posted rescan. Call it on the
    /// main thread after every wake() of the MainThreadWaker; calling it more
    /// often does no harm.
    void runPending();

    /// Rescans: departures (unplug handling), duplicates, arrivals, then
    /// OnDeviceChange if anything changed. A rescan asked for while one runs
    /// is run right after it.
    void DeviceChange();
    /// Claims the first free record, in list order, with these IDs (compared
    /// unsigned); productId -1 matches any product. device := it or none.
    bool ClaimByIds(THidDevice*& device, std::int32_t vendorId, std::int32_t productId);
    /// Claims the record at index when match is true and it is free, and
    /// starts its reader if it can. Otherwise false, device unchanged.
    bool ClaimAt(THidDevice*& device, std::size_t index, bool match);
    /// Stops the reader (running its queued reports), then makes a present
    /// record free again (it keeps OnReport) or destroys a gone one.
    /// device := none. Nothing happens for none.
    void ReleaseDevice(THidDevice*& device);

    /// Listed records in list order.
    std::size_t Count() const { return Devices.size(); }
    THidDevice& at(std::size_t index) const { return *Devices.at(index); }

    const TNotifyEvent& OnDeviceChange() const { return onDeviceChange_; }
    /// A handler with a new function is stored and, outside loading, runs a
    /// rescan at once. The same function (any receiver) changes nothing.
    void setOnDeviceChange(const TNotifyEvent& handler);
    const THidDataEvent& OnDeviceData() const { return onDeviceData_; }
    /// Records still on the old handler's function get the new one.
    void setOnDeviceData(const THidDataEvent& handler);
    const THidDataErrorEvent& OnDeviceDataError() const { return onDeviceDataError_; }
    void setOnDeviceDataError(const THidDataErrorEvent& handler);
    const THidPlugEvent& OnDeviceUnplug() const { return onDeviceUnplug_; }
    void setOnDeviceUnplug(const THidPlugEvent& handler);
    const THidPlugEvent& OnArrival() const { return onArrival_; }
    void setOnArrival(const THidPlugEvent& handler) { onArrival_ = handler; }
    const THidPlugEvent& OnRemoval() const { return onRemoval_; }
    void setOnRemoval(const THidPlugEvent& handler) { onRemoval_ = handler; }
    const THidEnumerateEvent& OnEnumerate() const { return onEnumerate_; }
    void setOnEnumerate(const THidEnumerateEvent& handler) { onEnumerate_ = handler; }
    std::int32_t DevThreadSleepTime() const { return devThreadSleepTime_; }
    /// Records whose WaitSlice equals the old value get the new one (within
    /// their 10..10000 ms rule).
    void setDevThreadSleepTime(std::int32_t ms);

    const DiagnosticSink& diagnostics() const { return diagnostics_; }
    MainThreadHandoff& handoff() { return handoff_; }
    /// True while the controller is being destroyed.
    bool shuttingDown() const { return shuttingDown_; }

private:
    std::vector<std::unique_ptr<THidDevice>> enumerate();
    void rescan();
    void callPlugHandler(const THidPlugEvent& handler, THidDevice& device);
    bool isListed(const THidDevice* device) const;
    void destroyRecord(THidDevice* device);

    HidSystem& system_;
    MainThreadWaker& waker_;
    DiagnosticSink diagnostics_;
    MainThreadHandoff handoff_;
    std::unique_ptr<HidDeviceMonitor> monitor_;

    std::int32_t devThreadSleepTime_ = THidDevice::kDefaultWaitSliceMs;
    TNotifyEvent onDeviceChange_;
    THidDataEvent onDeviceData_;
    THidDataErrorEvent onDeviceDataError_;
    THidPlugEvent onDeviceUnplug_;
    THidPlugEvent onArrival_;
    THidPlugEvent onRemoval_;
    THidEnumerateEvent onEnumerate_;

    std::vector<std::unique_ptr<THidDevice>> Devices;
    bool loading_ = true;
    bool rescanPosted_ = false;
    bool rescanning_ = false;
    bool rescanAgain_ = false;
    bool shuttingDown_ = false;
};

} // namespace oru
