#include "device/HidDeviceController.h"

#include "device/EControllerError.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace oru {

namespace {
std::atomic<int> livingControllers{0};
} // namespace

THidDeviceController::THidDeviceController(HidSystem& system, MainThreadWaker& waker, DiagnosticSink diagnostics)
    : system_(system), waker_(waker),
      diagnostics_(diagnostics ? std::move(diagnostics) : DiagnosticSink(writeDiagnosticToStderr)),
      handoff_(waker)
{
    if (livingControllers.fetch_add(1) != 0) {
        livingControllers.fetch_sub(1);
        throw EControllerError("Only one THidDeviceController allowed per program");
    }
}

THidDeviceController::~THidDeviceController()
{
    shuttingDown_ = true;
    onDeviceChange_ = {};
    onDeviceUnplug_ = {};
    onEnumerate_ = {};
    monitor_.reset();
    std::vector<THidDevice*> listed;
    for (const auto& device : Devices) listed.push_back(device.get());
    for (THidDevice* device : listed) {
        // An unplug handler may release records: look each one up again.
        if (isListed(device) && device->Claimed()) device->HandleUnplug();
    }
    // Report deliveries are muted (shuttingDown_): stopping a reader runs no
    // handler, so the list no longer changes. A queued report is dropped.
    for (const auto& device : Devices) device->StopReader();
    Devices.clear();
    livingControllers.fetch_sub(1);
}

void THidDeviceController::Loaded()
{
    if (!loading_) return;
    loading_ = false;
    if (!system_.available()) return;
    monitor_ = system_.openMonitor();
    if (monitor_) monitor_->setOnChange([this] { DeviceNotificationReady(); });
    rescanPosted_ = true;
    waker_.wake();
}

int THidDeviceController::DeviceNotificationFd() const { return monitor_ ? monitor_->fd() : -1; }

void THidDeviceController::DeviceNotificationReady()
{
    // A burst of events (a composite device brings several nodes) becomes one rescan.
    if (monitor_ && monitor_->drainChanges()) DeviceChange();
}

void THidDeviceController::runPending()
{
    handoff_.runPending();
    if (rescanPosted_) {
        rescanPosted_ = false;
        DeviceChange();
    }
}

void THidDeviceController::DeviceChange()
{
    if (rescanning_) {
        // Asked for from inside a handler of the running rescan: merged into
        // one more pass after it, never nested.
        rescanAgain_ = true;
        return;
    }
    rescanning_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{rescanning_};
    do {
        rescanAgain_ = false;
        rescan();
    } while (rescanAgain_);
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::enumerate()
{
    std::vector<std::unique_ptr<THidDevice>> fresh;
    if (!system_.available()) return fresh;
    for (const HidInterfaceInfo& info : system_.listInterfaces()) {
        try {
            fresh.push_back(std::unique_ptr<THidDevice>(
                new THidDevice(*this, system_, handoff_, info, onDeviceData_, onDeviceUnplug_)));
        } catch (const EControllerError&) {
            // Gone between listing and opening: it has no record this time.
        }
    }
    return fresh;
}

void THidDeviceController::rescan()
{
    bool changed = false;
    auto fresh = enumerate();

    // Departures, last to first. A record that is no longer Present is never
    // found again, so a gone record still held counts as a change every time.
    std::vector<THidDevice*> listedLastFirst;
    for (auto it = Devices.rbegin(); it != Devices.rend(); ++it) listedLastFirst.push_back(it->get());
    for (THidDevice* listed : listedLastFirst) {
        if (!isListed(listed)) continue;  // a removal handler released it meanwhile
        const bool found = listed->Present() &&
                           std::any_of(fresh.rbegin(), fresh.rend(), [&](const auto& candidate) {
                               return candidate->InstanceId() == listed->InstanceId();
                           });
        if (found) {
            // udevd grants the user access (uaccess) after the kernel has made
            // the node, so a rescan started by an earlier event can list a new
            // tracker while it is still root's. Its own "add" event then finds
            // no new device: gaining access must count as a change, or the
            // tracker stays unread until the next plug.
            if (!listed->ReadWriteAccess() && listed->probeAccess() && listed->ReadWriteAccess()) {
                changed = true;
            }
            continue;
        }
        listed->HandleUnplug();
        callPlugHandler(onRemoval_, *listed);
        // A claimed record stays listed, no longer Present, until its holder
        // releases it.
        if (!listed->Claimed()) destroyRecord(listed);
        changed = true;
    }

    // Duplicates: fresh records for devices already listed and present.
    std::erase_if(fresh, [&](const auto& candidate) {
        return std::any_of(Devices.begin(), Devices.end(), [&](const auto& listed) {
            return listed->Present() && listed->InstanceId() == candidate->InstanceId();
        });
    });

    // Arrivals, appended in enumeration order.
    for (auto& arrival : fresh) {
        THidDevice& device = *arrival;
        Devices.push_back(std::move(arrival));
        changed = true;
        callPlugHandler(onArrival_, device);
    }

    if (changed && onDeviceChange_) onDeviceChange_(*this);
}

void THidDeviceController::callPlugHandler(const THidPlugEvent& handler, THidDevice& device)
{
    if (!handler) return;
    device.inPlugCallback_.store(true, std::memory_order_release);
    struct Reset {
        THidDevice& device;
        ~Reset() { device.inPlugCallback_.store(false, std::memory_order_release); }
    } reset{device};
    handler(device);
}

bool THidDeviceController::ClaimByIds(THidDevice*& device, std::int32_t vendorId, std::int32_t productId)
{
    device = nullptr;
    for (std::size_t i = 0; i < Devices.size(); ++i) {
        const THidDevice& record = *Devices[i];
        const bool match =
            std::uint32_t{record.VendorID()} == static_cast<std::uint32_t>(vendorId) &&
            (productId == -1 || std::uint32_t{record.ProductID()} == static_cast<std::uint32_t>(productId));
        if (ClaimAt(device, i, match)) return true;
    }
    return false;
}

bool THidDeviceController::ClaimAt(THidDevice*& device, std::size_t index, bool match)
{
    if (!match || index >= Devices.size() || Devices[index]->Claimed()) return false;
    THidDevice& record = *Devices[index];
    record.claimed_.store(true, std::memory_order_release);
    device = &record;
    // Access may have been granted since the record was made (a udev rule
    // installed and triggered): look again before deciding on the reader.
    if (!record.ReadWriteAccess()) record.OpenControlChannel();
    record.StartReader();
    return true;
}

void THidDeviceController::ReleaseDevice(THidDevice*& device)
{
    if (!device) return;
    THidDevice* record = device;
    record->StopReader();
    device = nullptr;
    if (record->Present()) {
        record->claimed_.store(false, std::memory_order_release);
    } else {
        destroyRecord(record);
    }
}

bool THidDeviceController::isListed(const THidDevice* device) const
{
    return std::any_of(Devices.begin(), Devices.end(), [&](const auto& listed) { return listed.get() == device; });
}

void THidDeviceController::destroyRecord(THidDevice* device)
{
    const auto it = std::find_if(Devices.begin(), Devices.end(),
                                 [&](const auto& listed) { return listed.get() == device; });
    if (it == Devices.end()) return;
    // Take it off the list before it is destroyed: its destruction stops its
    // reader, which runs queued reports, and their handlers may look at the list.
    std::unique_ptr<THidDevice> doomed = std::move(*it);
    Devices.erase(it);
    doomed.reset();
}

void THidDeviceController::setOnDeviceChange(const TNotifyEvent& handler)
{
    if (handler.sameFunction(onDeviceChange_)) return;
    onDeviceChange_ = handler;
    if (!loading_) DeviceChange();
}

void THidDeviceController::setOnDeviceData(const THidDataEvent& handler)
{
    if (handler.sameFunction(onDeviceData_)) return;
    for (auto& device : Devices) {
        if (device->OnReport().sameFunction(onDeviceData_)) device->setOnReport(handler);
    }
    onDeviceData_ = handler;
}

void THidDeviceController::setOnDeviceDataError(const THidDataErrorEvent& handler)
{
    if (handler.sameFunction(onDeviceDataError_)) return;
    for (auto& device : Devices) {
        if (device->OnReportError().sameFunction(onDeviceDataError_)) device->setOnReportError(handler);
    }
    onDeviceDataError_ = handler;
}

void THidDeviceController::setOnDeviceUnplug(const THidPlugEvent& handler)
{
    if (handler.sameFunction(onDeviceUnplug_)) return;
    for (auto& device : Devices) {
        if (device->OnUnplugged().sameFunction(onDeviceUnplug_)) device->setOnUnplugged(handler);
    }
    onDeviceUnplug_ = handler;
}

void THidDeviceController::setDevThreadSleepTime(std::int32_t ms)
{
    if (ms == devThreadSleepTime_) return;
    for (auto& device : Devices) {
        if (device->WaitSlice() == devThreadSleepTime_) device->setWaitSlice(ms);
    }
    devThreadSleepTime_ = ms;
}

} // namespace oru
