#pragma once

#include "device/DiagnosticSink.h"
#include "device/HidReadProblem.h"
#include "device/MainThreadHandoff.h"
#include "platform/HidReadPort.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace oru {

class THidDevice;

/// The reader of one claimed device: reads its input reports one at a time
/// and hands each to the main thread, waiting until the record's OnReport has
/// returned before it reads the next. Meanwhile it already waits for the
/// next report to arrive (without reading it), so a handler that is done
/// before then costs the reader no second wake-up. A read the system refuses is handed
/// over as an error (OnReportError, and the record's OnReadProblem when the
/// device is there but won't read) and retried with a back-off: one WaitSlice
/// after the first refusal, doubling with every further one up to
/// kMaxRetryPauseMs. A device that is broken for good then costs one attempt
/// every few seconds, and one that recovers (a fixed node, a freed file
/// descriptor) is read again within those few seconds without a re-plug.
///
/// An exception escaping a handler drops that one report: the reader goes on
/// reading and says so once on the diagnostic sink.
///
/// Owned by its record; only THidDevice::StopReader ends and destroys it.
class THidDeviceReadThread {
public:
    /// ReadBuffer gets reportLength bytes; they are reused for every report.
    THidDeviceReadThread(THidDevice& device, std::uint16_t reportLength, std::unique_ptr<HidReadPort> port,
                         MainThreadHandoff& handoff, DiagnosticSink diagnostics);

    /// Longest pause between two attempts at a device that keeps refusing, ms
    /// (unless WaitSlice itself is longer).
    static constexpr std::int32_t kMaxRetryPauseMs = 5000;
    /// Stops the thread if it still runs (see terminateAndWait).
    ~THidDeviceReadThread();
    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    void start();
    /// Sets the terminate flag and interrupts a waiting read; any thread.
    void terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
    /// Main thread: terminate, then wait for the thread's end while running
    /// queued hand-offs, then join it.
    void terminateAndWait();
    /// Wakes a waiting read so the reader looks at its record again (unplug).
    void interrupt() { port_->wake(); }
    /// Whether a report waits in the device, not yet read; any thread.
    bool reportWaiting() const { return port_->reportWaiting(); }
    /// True while this reader's delivery runs on the main thread.
    bool delivering() const { return delivering_; }

    /// Reports dropped because their handler raised.
    std::uint64_t droppedReports() const { return dropped_.load(std::memory_order_relaxed); }

private:
    void execute();
    /// Acts on a result of the port: hands a report over, paces a failure.
    void take(const HidReadResult& result);
    void refused(const HidReadProblem& problem, const HidError& error);
    void backOff();
    /// Hands an error over and waits for its handler.
    void handOver(MainThreadHandoff::Entry& entry);
    /// Waits until the handler of the report handed over has returned.
    void finishReport();
    /// Runs a hand-off step; a handler's exception drops that delivery.
    template <typename Step>
    void guarded(Step step);
    static void deliverReport(void* self);
    static void deliverError(void* self);

    THidDevice& device_;
    std::unique_ptr<HidReadPort> port_;
    MainThreadHandoff& handoff_;
    DiagnosticSink diagnostics_;

    std::vector<std::uint8_t> ReadBuffer;
    std::uint32_t BytesRead = 0;
    std::uint32_t errorCode_ = 0;
    HidReadProblem problem_;   // of the error delivery
    unsigned failures_ = 0;    // refusals since the last report; reader thread only
    bool reportPending_ = false;  // handed over, handler maybe still running; reader thread only
    std::atomic<bool> terminated_{false};
    bool delivering_ = false;  // main thread only
    std::atomic<std::uint64_t> dropped_{0};

    MainThreadHandoff::Entry reportEntry_{&deliverReport, this};
    MainThreadHandoff::Entry errorEntry_{&deliverError, this};
    MainThreadHandoff::EndFlag ended_;
    std::thread thread_;
};

} // namespace oru
