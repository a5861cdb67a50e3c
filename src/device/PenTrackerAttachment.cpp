#include "device/PenTrackerAttachment.h"

namespace oru {

PenTrackerAttachment::PenTrackerAttachment(THidDevice*& penDevice, THidDeviceController& controller,
                                           THidDataEvent showRead, TrayStatus& tray, DiagnosticSink diagnostics)
    : penDevice_(penDevice), controller_(controller), showRead_(showRead), tray_(tray),
      diagnostics_(diagnostics ? std::move(diagnostics) : DiagnosticSink(writeDiagnosticToStderr))
{
}

void PenTrackerAttachment::HidDeviceControllerDeviceChange(THidDeviceController& /*Sender*/)
{
    controller_.ReleaseDevice(penDevice_);
    const bool claimed = controller_.ClaimByIds(penDevice_, kPenTrackerVendorId, kPenTrackerProductId);
    tray_.showTrayState(claimed ? TrayState::Ready : TrayState::NoTracker);
    if (!claimed) return;
    penDevice_->setOnReadProblem(readProblemHandler());
    penDevice_->setOnReport(showRead_);
    if (penDevice_->ReadWriteAccess()) {
        toldNoAccessFor_.clear();
    } else {
        tellNoAccess(*penDevice_);
    }
}

void PenTrackerAttachment::tellNoAccess(const THidDevice& device)
{
    // Every device change re-claims the tracker; one word per plugged-in
    // tracker is enough. A re-plug (new identity) is told again.
    if (device.InstanceId() == toldNoAccessFor_) return;
    toldNoAccessFor_ = device.InstanceId();
    const std::string reason =
        device.accessError() ? controller_.system().errorText(device.accessError()) : "access refused";
    diagnostics_(std::string("oruDriver: the pen tracker (USB 0020:0002) at ") + device.InterfacePath() +
                 " was found but cannot be opened for reading (" + reason + "). " +
                 controller_.system().advice().grantAccessAdvice());
    if (onNoAccess_) onNoAccess_(device);
}

} // namespace oru

namespace oru {

namespace {

// What to do about a problem, for the English line on stderr; the platform's
// part comes from its HID layer.
std::string remedy(const HidReadProblem& problem, const std::string& path, const HidSystem& system)
{
    using Kind = HidReadProblem::Kind;
    const std::string replug = "Unplug the pen tracker and plug it in again";
    switch (problem.kind) {
    case Kind::DescriptorUnreadable:
        return "the driver cannot tell the length of its reports and reads nothing from it. " + replug +
               "; if this persists, " + system.advice().deviceErrorsAdvice();
    case Kind::DescriptorMalformed:
    case Kind::NoInputReport:
        return "its reports cannot be read. " + replug +
               "; if this persists, the device does not describe its reports properly and needs repair or "
               "replacement.";
    case Kind::OpenFailed:
        if (problem.error.kind == HidErrorKind::Transient) {
            return "the driver tries again every few seconds; if this persists, restart the driver.";
        }
        if (problem.error.kind == HidErrorKind::NoAccess) {
            return system.advice().refusedAccessAdvice(path) + " The driver tries again every few seconds.";
        }
        return system.advice().unopenableNodeAdvice(path) + " " + replug + ". The driver tries again every few seconds.";
    case Kind::ReadFailed: return replug + ". The driver tries again every few seconds.";
    case Kind::None: break;
    }
    return replug + ".";
}

// The user must act unless the driver's own retries can be expected to cure it.
bool userMustAct(const HidReadProblem& problem)
{
    return !(problem.kind == HidReadProblem::Kind::OpenFailed && problem.error.kind == HidErrorKind::Transient);
}

} // namespace

void PenTrackerAttachment::readProblem(THidDevice& device, const HidReadProblem& problem)
{
    // The record tells each problem once per plug; a re-claim tells nothing new.
    diagnostics_(std::string("oruDriver: the pen tracker (USB 0020:0002) at ") + device.InterfacePath() +
                 " was found but " + describeReadProblem(problem, controller_.system()) + "; " +
                 remedy(problem, device.InterfacePath(), controller_.system()));
    if (!userMustAct(problem) || !onUserNotice_) return;
    if (problem.kind == HidReadProblem::Kind::OpenFailed) {
        onUserNotice_("Kalem izleyici bulundu ama açılamıyor. İzleyiciyi çıkarıp yeniden takın; sorun sürerse "
                      "yöneticinize başvurun.");
    } else {
        onUserNotice_("Kalem izleyici bulundu ama okunamıyor. İzleyiciyi çıkarıp yeniden takın; sorun sürerse "
                      "cihaz arızalı olabilir.");
    }
}

} // namespace oru
