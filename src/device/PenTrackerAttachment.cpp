#include "device/PenTrackerAttachment.h"

#include "pen/PenPipeline.h"

#include <cstring>

namespace oru {

PenTrackerAttachment::PenTrackerAttachment(TMainFormState& state, THidDeviceController& controller,
                                           PenPipeline& pipeline, TrayStatus& tray, DiagnosticSink diagnostics)
    : state_(state), controller_(controller), pipeline_(pipeline), tray_(tray),
      diagnostics_(diagnostics ? std::move(diagnostics) : DiagnosticSink(writeDiagnosticToStderr))
{
}

void PenTrackerAttachment::HidDeviceControllerDeviceChange(THidDeviceController& /*Sender*/)
{
    controller_.ReleaseDevice(state_.PenDevice);
    const bool claimed = controller_.ClaimByIds(state_.PenDevice, kPenTrackerVendorId, kPenTrackerProductId);
    tray_.setColor(claimed ? kTrayPenTrackerFound : kTrayNoPenTracker);
    tray_.setFontColor(kTrayFontColor);
    if (!claimed) return;
    state_.PenDevice->setOnReport(reportHandler());
    if (state_.PenDevice->ReadWriteAccess()) {
        toldNoAccessFor_.clear();
    } else {
        tellNoAccess(*state_.PenDevice);
    }
}

void PenTrackerAttachment::ShowRead(THidDevice& /*HidDev*/, std::uint8_t /*ReportID*/, const std::uint8_t* Data,
                                    std::uint16_t Size)
{
    pipeline_.ShowRead(Data, Size);
}

void PenTrackerAttachment::tellNoAccess(const THidDevice& device)
{
    // Every device change re-claims the tracker; one word per plugged-in
    // tracker is enough. A re-plug (new identity) is told again.
    if (device.InstanceId() == toldNoAccessFor_) return;
    toldNoAccessFor_ = device.InstanceId();
    const char* reason = device.accessError() ? std::strerror(device.accessError()) : "access refused";
    diagnostics_(std::string("oruDriver: the pen tracker (USB 0020:0002) at ") + device.InterfacePath() +
                 " was found but cannot be opened for reading (" + reason + "). Install the udev rule " +
                 kPenTrackerUdevRule + " into /etc/udev/rules.d/ (sudo udevadm control --reload), "
                 "then unplug the pen tracker and plug it in again.");
    if (onNoAccess_) onNoAccess_(device);
}

} // namespace oru
