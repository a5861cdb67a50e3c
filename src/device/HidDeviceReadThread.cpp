#include "device/HidDeviceReadThread.h"

#include "common/ExtendedPrecision.h"
#include "device/HidDevice.h"

#include <algorithm>
#include <exception>
#include <string>

namespace oru {

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, std::uint16_t reportLength,
                                           std::unique_ptr<HidReadPort> port, MainThreadHandoff& handoff,
                                           DiagnosticSink diagnostics)
    : device_(device), port_(std::move(port)), handoff_(handoff), diagnostics_(std::move(diagnostics)),
      ReadBuffer(reportLength, 0)
{
}

THidDeviceReadThread::~THidDeviceReadThread()
{
    if (thread_.joinable()) terminateAndWait();
}

void THidDeviceReadThread::start() { thread_ = std::thread(&THidDeviceReadThread::execute, this); }

void THidDeviceReadThread::terminate()
{
    terminated_.store(true, std::memory_order_release);
    port_->wake();
}

void THidDeviceReadThread::terminateAndWait()
{
    terminate();
    if (!thread_.joinable()) return;
    handoff_.serveUntilEnded(ended_);
    thread_.join();
}

void THidDeviceReadThread::execute()
{
    useExtendedPrecision();  // a thread may start at 53 bits (Windows)
    while (!Terminated()) {
        if (reportPending_ && port_->isOpen() && device_.Accessible()) {
            // The main thread may still be handling the last report from
            // ReadBuffer: wait for the next one meanwhile, and read it only
            // once that handler has returned.
            const HidReadResult next = port_->waitForReport(HidReadPort::kNoTimeout);
            finishReport();
            if (next.status != HidReadStatus::Report) take(next);
            continue;  // look at the stop request and the record again
        }
        finishReport();
        std::fill(ReadBuffer.begin(), ReadBuffer.end(), std::uint8_t{0});
        if (!device_.Accessible()) {
            // Unplugged (or released): the channel is closed and stays closed.
            port_->close();
            refused({}, port_->goneError());
            continue;
        }
        if (!port_->isOpen()) {
            HidError openError;
            if (!port_->open(device_.InterfacePath(), openError)) {
                // A node that vanished belongs to an unplug whose device change
                // is on its way; any other refusal leaves a present device unread.
                refused(openError.kind == HidErrorKind::DeviceGone
                            ? HidReadProblem{}
                            : HidReadProblem{HidReadProblem::Kind::OpenFailed, openError},
                        openError);
                continue;
            }
        }
        // No timeout: a stop request, an unplug and a release all wake the
        // port, so an idle pen costs no wake-ups at all.
        take(port_->read(ReadBuffer.data(), ReadBuffer.size(), HidReadPort::kNoTimeout));
    }
    finishReport();
    port_->close();
    handoff_.signalEnded(ended_);
}

void THidDeviceReadThread::take(const HidReadResult& result)
{
    switch (result.status) {
    case HidReadStatus::Report:
        failures_ = 0;
        BytesRead = static_cast<std::uint32_t>(result.bytes);
        handoff_.post(reportEntry_);
        reportPending_ = true;
        break;
    case HidReadStatus::TimedOut:
    case HidReadStatus::Woken:
        break;  // look at the stop request and the record again, then wait on
    case HidReadStatus::Gone:
        // Normal on unplug: nothing to deliver; the next pass finds the
        // node missing or the record no longer present. The unplug's
        // device change wakes the pause; a node that hangs up without
        // going away is not reopened in a tight loop.
        BytesRead = 0;
        backOff();
        break;
    case HidReadStatus::Failed:
        refused({HidReadProblem::Kind::ReadFailed, result.error}, result.error);
        break;
    }
}

void THidDeviceReadThread::refused(const HidReadProblem& problem, const HidError& error)
{
    errorCode_ = static_cast<std::uint32_t>(error.code);
    problem_ = problem;
    handOver(errorEntry_);
    backOff();
}

void THidDeviceReadThread::backOff()
{
    // A refused read is not retried at once: that would spin a core for as
    // long as the device stays unreadable (until the holder releases it).
    if (Terminated()) return;
    const std::int32_t slice = device_.WaitSlice();
    const std::int32_t longest = std::max(slice, kMaxRetryPauseMs);
    // WaitSlice <= 10000 ms: 2^14 times that still fits the 64 bits.
    const std::int64_t doubled = std::int64_t{slice} << std::min(failures_, 14u);
    ++failures_;
    port_->pause(static_cast<int>(std::min<std::int64_t>(doubled, longest)));
}

template <typename Step>
void THidDeviceReadThread::guarded(Step step)
{
    try {
        step();
    } catch (...) {
        if (dropped_.fetch_add(1, std::memory_order_relaxed) > 0) return;
        std::string what = "unknown error";
        try {
            throw;
        } catch (const std::exception& error) {
            what = error.what();
        } catch (...) {
        }
        diagnostics_("oruDriver: a report handler of " + device_.InterfacePath() + " failed (" + what +
                     "); that report was dropped and reading goes on. Later failures are not reported.");
    }
}

void THidDeviceReadThread::handOver(MainThreadHandoff::Entry& entry)
{
    guarded([&] { handoff_.handOver(entry); });
}

void THidDeviceReadThread::finishReport()
{
    if (!reportPending_) return;
    reportPending_ = false;
    guarded([&] { handoff_.wait(reportEntry_); });
}

namespace {

// Set while a handler runs on the main thread, also when it throws.
class DeliveringFlag {
public:
    explicit DeliveringFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~DeliveringFlag() { flag_ = false; }
    DeliveringFlag(const DeliveringFlag&) = delete;
    DeliveringFlag& operator=(const DeliveringFlag&) = delete;

private:
    bool& flag_;
};

} // namespace

void THidDeviceReadThread::deliverReport(void* self)
{
    auto& reader = *static_cast<THidDeviceReadThread*>(self);
    THidDevice& device = reader.device_;
    if (device.deliveriesMuted() || !device.OnReport()) return;
    const DeliveringFlag delivering(reader.delivering_);
    if (device.readProblem_) device.readProblem_ = {};
    // BytesRead >= 1 here: the report ID byte is always counted.
    device.OnReport()(device, reader.ReadBuffer[0], reader.ReadBuffer.data() + 1,
                      static_cast<std::uint16_t>(reader.BytesRead - 1));
}

void THidDeviceReadThread::deliverError(void* self)
{
    auto& reader = *static_cast<THidDeviceReadThread*>(self);
    THidDevice& device = reader.device_;
    if (device.deliveriesMuted()) return;
    const DeliveringFlag delivering(reader.delivering_);
    device.noteReadProblem(reader.problem_);
    if (device.OnReportError()) device.OnReportError()(device, reader.errorCode_);
}

} // namespace oru
