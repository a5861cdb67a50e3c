#include "tools/ReportRecorder.h"

#include "device/PenTrackerAttachment.h"
#include "tools/ReplayScript.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ostream>

namespace oru {

namespace {

std::string hex4(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string describe(const THidDevice& device)
{
    return device.InterfacePath() + " (" + device.InstanceId() + ", vendor " + hex4(device.VendorID()) +
           ", product " + hex4(device.ProductID()) + ", version " + hex4(device.VersionNumber()) + ")";
}

} // namespace

ReportRecorder::ReportRecorder(THidDeviceController& controller, std::ostream& out, std::ostream& err,
                               MicrosClock clock)
    : controller_(controller), out_(out), err_(err), clock_(std::move(clock))
{
}

ReportRecorder::~ReportRecorder() { stop(); }

int ReportRecorder::start(const std::string& startedAt)
{
    if (!controller_.servicesAvailable()) {
        err_ << "oru-record: HID devices cannot be listed: " << controller_.system().advice().unavailableAdvice()
             << " Run oru-record on the machine the pen tracker is plugged into.\n";
        return kNoPenTracker;
    }
    controller_.DeviceChange();
    if (!controller_.ClaimByIds(device_, kPenTrackerVendorId, kPenTrackerProductId)) {
        err_ << "oru-record: no pen tracker (USB HID 0020:0002) is plugged in. Plug it in and run oru-record "
                "again.\n";
        return kNoPenTracker;
    }
    if (!device_->ReadWriteAccess()) {
        noAccessMessage(*device_);
        controller_.ReleaseDevice(device_);
        return kNoAccess;
    }
    out_ << "# oru-record " << startedAt << ", pen tracker " << describe(*device_) << ", input report length "
         << device_->QueryCaps().InputReportByteLength << '\n';
    out_.flush();
    startMicros_ = clock_();
    reading_ = true;
    attach(*device_);
    controller_.setOnDeviceChange(TNotifyEvent::bind<&ReportRecorder::HidDeviceControllerDeviceChange>(*this));
    return kRecorded;
}

void ReportRecorder::stop()
{
    controller_.ReleaseDevice(device_);
    reading_ = false;
    out_.flush();
}

void ReportRecorder::HidDeviceControllerDeviceChange(THidDeviceController& /*Sender*/)
{
    controller_.ReleaseDevice(device_);
    const bool claimed = controller_.ClaimByIds(device_, kPenTrackerVendorId, kPenTrackerProductId);
    const bool readable = claimed && device_->ReadWriteAccess();
    if (reading_ && !readable) {
        out_ << "# " << formatReplayMillis(elapsedMicros()) << " pen tracker unplugged\n";
        out_.flush();
        err_ << "oru-record: the pen tracker was unplugged; waiting for it to come back (Ctrl+C ends).\n";
    }
    if (claimed && !readable) noAccessMessage(*device_);
    if (!reading_ && readable) {
        out_ << "# " << formatReplayMillis(elapsedMicros()) << " pen tracker plugged in: " << describe(*device_)
             << '\n';
        out_.flush();
        err_ << "oru-record: the pen tracker is back; recording goes on.\n";
    }
    reading_ = readable;
    if (claimed) attach(*device_);
}

void ReportRecorder::attach(THidDevice& device)
{
    device.setOnReadProblem(THidReadProblemEvent::bind<&ReportRecorder::readProblem>(*this));
    device.setOnReport(THidDataEvent::bind<&ReportRecorder::ShowRead>(*this));
}

void ReportRecorder::readProblem(THidDevice& device, const HidReadProblem& problem)
{
    err_ << "oru-record: the pen tracker at " << device.InterfacePath() << " was found but "
         << describeReadProblem(problem, controller_.system())
         << "; nothing is recorded until it reads. Unplug the pen tracker and plug it in again (Ctrl+C ends).\n";
}

void ReportRecorder::ShowRead(THidDevice& /*HidDev*/, std::uint8_t /*ReportID*/, const std::uint8_t* Data,
                              std::uint16_t Size)
{
    // "report " + up to 19 digits of ms + ".ddd" + " XX" per byte: no allocation per report.
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::array<char, 40 + 3 * kMaxReplayReportBytes> line;
    const std::int64_t micros = std::max<std::int64_t>(0, elapsedMicros());
    int length = std::snprintf(line.data(), line.size(), "report %lld", static_cast<long long>(micros / 1000));
    if (const int fraction = static_cast<int>(micros % 1000)) {
        // Up to three decimals, trailing zeros dropped, as the replay reads them.
        int digits = 3, value = fraction;
        while (value % 10 == 0) {
            value /= 10;
            --digits;
        }
        length += std::snprintf(line.data() + length, line.size() - length, ".%0*d", digits, value);
    }
    // The replay takes at most kMaxReplayReportBytes bytes per report.
    const int kept = std::min<int>(Size, kMaxReplayReportBytes);
    for (int i = 0; i < kept; ++i) {
        line[length++] = ' ';
        line[length++] = kHexDigits[Data[i] >> 4];
        line[length++] = kHexDigits[Data[i] & 0x0F];
    }
    line[length++] = '\n';
    out_.write(line.data(), length);
    // Readers of a pipe (oru-replay) see each report as it comes.
    out_.flush();
    ++reportsWritten_;
}

void ReportRecorder::noAccessMessage(const THidDevice& device)
{
    if (device.InstanceId() == toldNoAccessFor_) return;
    toldNoAccessFor_ = device.InstanceId();
    const std::string reason =
        device.accessError() ? controller_.system().errorText(device.accessError()) : "access refused";
    err_ << "oru-record: the pen tracker at " << device.InterfacePath() << " cannot be opened for reading ("
         << reason << "). " << controller_.system().advice().grantAccessAdvice() << '\n';
}

} // namespace oru
