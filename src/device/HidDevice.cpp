#include "device/HidDevice.h"

#include "device/EControllerError.h"
#include "device/HidDeviceController.h"
#include "device/HidDeviceReadThread.h"

#include <stdexcept>

namespace oru {

THidDevice::THidDevice(THidDeviceController& owner, HidSystem& system, MainThreadHandoff& handoff,
                       const HidInterfaceInfo& info, const THidDataEvent& onReport,
                       const THidPlugEvent& onUnplugged)
    : owner_(&owner), system_(system), handoff_(handoff), pnpInfo_{info.identity, info.path},
      vendorId_(info.vendorId), productId_(info.productId), version_(info.version)
{
    setOnReport(onReport);  // not claimed: starts nothing
    onUnplugged_ = onUnplugged;

    // IDs and identity come from the system's list; the access check only
    // tells whether the driver may read the node.
    if (!probeAccess()) throw EControllerError("Device cannot be opened");
}

THidDevice::~THidDevice()
{
    StopReader();
    onReport_ = {};
    onUnplugged_ = {};
    onReadProblem_ = {};
}

void THidDevice::setWaitSlice(std::int32_t ms)
{
    if (ms < kMinWaitSliceMs || ms > kMaxWaitSliceMs) return;
    waitSlice_.store(ms, std::memory_order_relaxed);
}

void THidDevice::setOnReport(const THidDataEvent& handler)
{
    if (!handler) StopReader();
    onReport_ = handler;
    StartReader();
}

bool THidDevice::OpenControlChannel() { return Accessible() && probeAccess(); }

bool THidDevice::probeAccess()
{
    int error = 0;
    const HidAccess access = system_.probeAccess(InterfacePath(), error);
    readWriteAccess_.store(access == HidAccess::ReadWrite, std::memory_order_release);
    accessError_ = error;
    return access != HidAccess::Missing;
}

namespace {

HidReadProblem descriptorProblem(const HidInputReportInfo& info)
{
    using Kind = HidReadProblem::Kind;
    switch (info.status) {
    case HidDescriptorStatus::Usable: return {};
    case HidDescriptorStatus::Unreadable: return {Kind::DescriptorUnreadable, info.error};
    case HidDescriptorStatus::Malformed: return {Kind::DescriptorMalformed, {}};
    case HidDescriptorStatus::NoInputReport: return {Kind::NoInputReport, {}};
    }
    return {};
}

} // namespace

THidCaps THidDevice::QueryCaps()
{
    if (inputReportLength_ == 0 && OpenControlChannel()) {
        const HidInputReportInfo info = system_.inputReportInfo(InterfacePath());
        inputReportLength_ = info.length;
        descriptorProblem_ = info.length ? HidReadProblem{} : descriptorProblem(info);
    }
    return THidCaps{inputReportLength_};
}

void THidDevice::HandleUnplug()
{
    present_.store(false, std::memory_order_release);
    // The reader owns the read channel: wake it so it closes the channel and
    // stops using the node now rather than after its current wait.
    if (reader_) reader_->interrupt();
    const THidPlugEvent handler = onUnplugged_;
    onUnplugged_ = {};
    if (handler) handler(*this);
}

void THidDevice::StartReader()
{
    if (!onReport_ || !Present() || !Claimed() || !ReadWriteAccess() || reader_) return;
    const std::uint16_t length = QueryCaps().InputReportByteLength;
    if (length == 0) {
        // A reader would see every read refused for as long as the device
        // stays plugged in. Say why instead; a later claim (after any device
        // change) looks at the descriptor again.
        noteReadProblem(descriptorProblem_);
        return;
    }
    reader_ = std::make_unique<THidDeviceReadThread>(*this, length, system_.makeReadPort(), handoff_,
                                                     owner_->diagnostics());
    reader_->start();
}

void THidDevice::StopReader()
{
    if (!reader_) return;
    if (reader_->delivering()) {
        throw std::logic_error("A HID device's reader cannot be stopped from inside its own report handler: "
                               "release the device from a device-change handler or a posted call instead");
    }
    reader_->terminateAndWait();
    reader_.reset();
}

bool THidDevice::deliveriesMuted() const { return owner_ && owner_->shuttingDown(); }

void THidDevice::noteReadProblem(const HidReadProblem& problem)
{
    readProblem_ = problem;
    if (!problem || problem == toldReadProblem_ || !onReadProblem_) return;
    toldReadProblem_ = problem;
    onReadProblem_(*this, problem);
}

bool THidDevice::reportWaiting() const { return reader_ && reader_->reportWaiting(); }

} // namespace oru
