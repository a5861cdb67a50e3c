#pragma once

#include "device/HidDeviceController.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace oru {

/// Microseconds of a steady clock; the recorder only uses differences.
using MicrosClock = std::function<std::int64_t()>;

/// oru-record's logic: claims the pen tracker and writes each of its reports
/// as a replay line "report T B0 B1 ..." (T in ms since the start, data bytes
/// in hex, report ID left out), after a leading comment line naming the date
/// and the device. Follows unplug and re-plug, noting each as a comment.
class ReportRecorder {
public:
    enum ExitCode : int { kRecorded = 0, kNoPenTracker = 1, kNoAccess = 2 };

    ReportRecorder(THidDeviceController& controller, std::ostream& out, std::ostream& err, MicrosClock clock);
    ~ReportRecorder();
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    /// Rescans, claims the tracker and starts reading it; also binds the
    /// controller's OnDeviceChange. startedAt is the date text of the
    /// comment line. Returns kRecorded, or an exit code after an English
    /// message on err (no tracker, no HID access, no read access).
    int start(const std::string& startedAt);
    /// Stops reading and flushes the output.
    void stop();

    void HidDeviceControllerDeviceChange(THidDeviceController& Sender);
    void ShowRead(THidDevice& HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size);
    /// Says on err what keeps a readable tracker from being read (once per plug).
    void readProblem(THidDevice& HidDev, const HidReadProblem& Problem);

    std::uint64_t reportsWritten() const { return reportsWritten_; }

private:
    std::int64_t elapsedMicros() const { return clock_() - startMicros_; }
    void noAccessMessage(const THidDevice& device);
    void attach(THidDevice& device);

    THidDeviceController& controller_;
    std::ostream& out_;
    std::ostream& err_;
    MicrosClock clock_;
    std::int64_t startMicros_ = 0;
    THidDevice* device_ = nullptr;
    bool reading_ = false;
    std::string toldNoAccessFor_;
    std::uint64_t reportsWritten_ = 0;
};

} // namespace oru
