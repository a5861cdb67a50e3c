#pragma once

#include "common/TrayStatus.h"
#include "device/DiagnosticSink.h"
#include "device/HidDeviceController.h"

#include <cstdint>
#include <functional>
#include <string>

namespace oru {

/// USB IDs of the pen tracker.
inline constexpr std::int32_t kPenTrackerVendorId = 0x0020;
inline constexpr std::int32_t kPenTrackerProductId = 0x0002;

/// Name of the udev rule file that gives the logged-in user the tracker's node.
inline constexpr const char* kPenTrackerUdevRule = "70-oru-pen-tracker.rules";

/// The main window's use of the controller: find the pen tracker after every
/// device change, claim it into the main window's PenDevice, show on the tray
/// whether it was found, and attach the main window's ShowRead as its report
/// handler.
class PenTrackerAttachment {
public:
    /// Called once per plugged-in tracker that is found but can't be read
    /// (no read-write access to its node). The program shows a notification.
    using NoAccessNotice = std::function<void(const THidDevice& device)>;
    /// A notification for the user (Turkish, UTF-8) where the user must act:
    /// once per plugged-in tracker that may be read but can't be (a broken
    /// report descriptor, a node that won't open, failing reads).
    using UserNotice = std::function<void(const std::string& text)>;

    /// penDevice is the main window's PenDevice field: the claimed tracker or
    /// none; showRead the handler every claimed tracker gets as its OnReport.
    PenTrackerAttachment(THidDevice*& penDevice, THidDeviceController& controller, THidDataEvent showRead,
                         TrayStatus& tray, DiagnosticSink diagnostics = writeDiagnosticToStderr);

    /// This attachment's HidDeviceControllerDeviceChange as an OnDeviceChange handler.
    TNotifyEvent deviceChangeHandler()
    {
        return TNotifyEvent::bind<&PenTrackerAttachment::HidDeviceControllerDeviceChange>(*this);
    }
    /// The report handler it attaches.
    const THidDataEvent& reportHandler() const { return showRead_; }
    /// This attachment's readProblem as an OnReadProblem handler.
    THidReadProblemEvent readProblemHandler()
    {
        return THidReadProblemEvent::bind<&PenTrackerAttachment::readProblem>(*this);
    }

    /// Release PenDevice, claim the first free pen tracker, set the tray
    /// colours, attach ShowRead. Leaves the pen state and the watchdog alone.
    /// A tracker that is found but can't be read is still claimed (green:
    /// found); what is wrong is said once per plug instead.
    void HidDeviceControllerDeviceChange(THidDeviceController& Sender);

    /// Says on the diagnostic sink what keeps the tracker from being read and
    /// what to do; notifies the user where the user must act.
    void readProblem(THidDevice& HidDev, const HidReadProblem& Problem);

    void setOnNoAccess(NoAccessNotice notice) { onNoAccess_ = std::move(notice); }
    void setOnUserNotice(UserNotice notice) { onUserNotice_ = std::move(notice); }

private:
    void tellNoAccess(const THidDevice& device);

    THidDevice*& penDevice_;
    THidDeviceController& controller_;
    THidDataEvent showRead_;
    TrayStatus& tray_;
    DiagnosticSink diagnostics_;
    NoAccessNotice onNoAccess_;
    UserNotice onUserNotice_;
    std::string toldNoAccessFor_;  // InstanceId of the last tracker we warned about
};

} // namespace oru
