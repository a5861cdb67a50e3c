// Report delivery from the moment a report is readable to the moment the
// pointer is placed, in the program and in the least any program could do.
//
// Run: xvfb-run -a build/bench/oru-bench-hid   (both sides place the pointer through XTest)
//
//   Minimal loop: one thread, a blocking read of a 5-byte report from a pipe,
//     one XTest placement and flush. No hand-off, no event loop: the floor.
//   Driver: the program's main window on its Qt event loop with the XTest
//     backend; the pen tracker's node is a FIFO read by the hidraw read port
//     in the reader thread, every report handed to the main window's
//     ShowRead on the main thread, through the pen pipeline to the placement.
//
//   Delivery/<reports per s>: the minimal loop and the driver in turns of one
//     second each, ten turns each, so both meet the same load of the machine;
//     a paced writer thread feeds each turn. Both sides' pipes hold what a
//     hidraw node holds for its reader: 64 reports; like the kernel, the
//     writer drops a report that finds 64 unread (counted as "dropped", not
//     timed; a pipe alone would hold some 13,000 and time the backlog). Per side: latency from the write
//     that makes a report readable to the return of its placement's flush
//     (median, p99, max), CPU per report (the writer's own CPU left out) and
//     voluntary context switches per report; cpu_ratio is the driver's CPU
//     per report over the loop's, p99_ratio its p99 latency over the loop's.
//     The driver's five slowest reports go to stderr, split into the time to
//     the reader thread's read and from there to the placement.
//   DriverReportLatency: one report at a time through the driver.

#include "qtui/MainForm.h"
#include "fakes/EmulatedPenTracker.h"
#include "fakes/FifoPenTracker.h"
#include "fakes/MemoryRegistryStore.h"
#include "platform/HidReadPort.h"
#include "platform/HidSystem.h"
#include "platform/PointerOutput.h"
#include "platform/linux/EventFdWaker.h"
#include "platform/linux/ThreadScheduling.h"
#include "platform/linux/XTestPointerOutput.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kTurns = 10;
constexpr int kTurnSeconds = 1;
/// Reports a hidraw node keeps for a reader that has not read them yet
/// (the kernel's HIDRAW_BUFFER_SIZE); one more is dropped on arrival.
constexpr std::size_t kHidrawQueueReports = 64;

enum class WriteOutcome { Written, Dropped, Failed };

/// A write as the kernel makes a report readable: dropped when the reader's
/// queue is full.
template <typename Write>
WriteOutcome writeUnlessFull(std::size_t pendingBytes, std::size_t reportBytes, Write write)
{
    if (pendingBytes >= kHidrawQueueReports * reportBytes) return WriteOutcome::Dropped;
    return write() ? WriteOutcome::Written : WriteOutcome::Failed;
}

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count();
}

struct Usage {
    double cpuSeconds = 0;
    long voluntarySwitches = 0;
};

Usage usage(int who)
{
    rusage r{};
    getrusage(who, &r);
    return {r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6, r.ru_nvcsw};
}

Usage operator-(const Usage& a, const Usage& b)
{
    return {a.cpuSeconds - b.cpuSeconds, a.voluntarySwitches - b.voluntarySwitches};
}

Usage& operator+=(Usage& a, const Usage& b)
{
    a.cpuSeconds += b.cpuSeconds;
    a.voluntarySwitches += b.voluntarySwitches;
    return a;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty()) return 0;
    const std::size_t index = std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()));
    std::nth_element(values.begin(), values.begin() + index, values.end());
    return values[index];
}

// Hovering pen reports (no button, so no press pause) over the calibrated
// part of the board, 64 places; byte 4, which the driver keeps but doesn't
// decode, carries the low 8 bits of the report's sequence number.
constexpr std::array<const char*, 8> kCalibrationTexts = {"100", "-150", "550", "-160", "110", "-500", "540", "-510"};

oru::emulated::Report hoverReport(std::uint32_t sequence)
{
    const int place = static_cast<int>(sequence % 64);
    auto report = oru::emulated::reportAt(0, 150 + (place % 8) * 45.0, -200 - (place / 8) * 35.0);
    report[4] = static_cast<std::uint8_t>(sequence);
    return report;
}

/// Writes `count` reports at `ratePerSecond` once started, noting each write's
/// time (-1 for a report dropped).
class PacedWriter {
public:
    PacedWriter(std::uint32_t count, int ratePerSecond)
        : count_(count), ratePerSecond_(ratePerSecond), writtenNs_(std::make_unique<std::atomic<std::int64_t>[]>(count))
    {
    }
    ~PacedWriter() { join(); }
    PacedWriter(const PacedWriter&) = delete;
    PacedWriter& operator=(const PacedWriter&) = delete;

    /// write(sequence) makes one report readable, or drops it (WriteOutcome).
    template <typename Write>
    void start(Write write)
    {
        thread_ = std::thread([this, write] {
            const std::int64_t periodNs = 1'000'000'000LL / ratePerSecond_;
            timespec next{};
            clock_gettime(CLOCK_MONOTONIC, &next);
            for (std::uint32_t sequence = 0; sequence < count_; ++sequence) {
                next.tv_nsec += periodNs;
                while (next.tv_nsec >= 1'000'000'000) {
                    next.tv_nsec -= 1'000'000'000;
                    ++next.tv_sec;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
                const std::int64_t writtenNs = nowNs();
                // Before the write: the reader may look the time up at once.
                writtenNs_[sequence].store(writtenNs, std::memory_order_release);
                switch (write(sequence)) {
                case WriteOutcome::Written: break;
                case WriteOutcome::Dropped:
                    writtenNs_[sequence].store(-1, std::memory_order_release);
                    dropped_.fetch_add(1);
                    break;
                case WriteOutcome::Failed: failures_.fetch_add(1); break;
                }
            }
            usage_ = usage(RUSAGE_THREAD);
            done_.store(true);
        });
    }
    void join()
    {
        if (thread_.joinable()) thread_.join();
    }
    bool done() const { return done_.load(); }
    std::int64_t writtenNs(std::uint32_t sequence) const { return writtenNs_[sequence].load(std::memory_order_acquire); }
    /// The writer thread's own use; valid after join().
    Usage ownUsage() const { return usage_; }
    int failures() const { return failures_.load(); }
    std::uint32_t dropped() const { return dropped_.load(); }
    /// The report a reader got, from its 8-bit tag and the next one it
    /// expected: reports come in order, and any skipped were dropped.
    std::uint32_t sequenceOf(std::uint8_t tag, std::uint32_t next) const
    {
        std::uint32_t sequence = next + static_cast<std::uint8_t>(tag - static_cast<std::uint8_t>(next));
        while (sequence < count_ && writtenNs(sequence) < 0) sequence += 256;
        return sequence;
    }

private:
    std::uint32_t count_;
    int ratePerSecond_;
    std::unique_ptr<std::atomic<std::int64_t>[]> writtenNs_;
    std::atomic<bool> done_{false};
    std::atomic<int> failures_{0};
    std::atomic<std::uint32_t> dropped_{0};
    Usage usage_;
    std::thread thread_;
};

struct SideResult {
    std::vector<double> latenciesUs;
    Usage used;
    std::uint32_t lost = 0;     // written, never placed
    std::uint32_t dropped = 0;  // dropped as the kernel would: the queue was full
};

void putCounters(benchmark::State& state, const std::string& side, const SideResult& result)
{
    const double reports = std::max<double>(1, static_cast<double>(result.latenciesUs.size()));
    state.counters[side + "_median_us"] = percentile(result.latenciesUs, 0.5);
    state.counters[side + "_p99_us"] = percentile(result.latenciesUs, 0.99);
    state.counters[side + "_max_us"] = percentile(result.latenciesUs, 1.0);
    state.counters[side + "_cpu_us"] = result.used.cpuSeconds * 1e6 / reports;
    state.counters[side + "_switches"] = result.used.voluntarySwitches / reports;
    state.counters[side + "_lost"] = result.lost;
    state.counters[side + "_dropped"] = result.dropped;
}

// --- the minimal loop ------------------------------------------------------

/// One thread reading 5-byte reports from a pipe and placing the pointer
/// through XTest for each, on a connection of its own.
class MinimalLoop {
public:
    explicit MinimalLoop(Display* display) : display_(display)
    {
        if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    ~MinimalLoop()
    {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    MinimalLoop(const MinimalLoop&) = delete;
    MinimalLoop& operator=(const MinimalLoop&) = delete;

    /// One turn at the rate; adds its latencies and use to `result`.
    void runTurn(int ratePerSecond, SideResult& result)
    {
        const std::uint32_t count = static_cast<std::uint32_t>(ratePerSecond) * kTurnSeconds;
        PacedWriter writer(count, ratePerSecond);
        std::uint32_t received = 0;
        std::thread loop([&] {
            const Usage before = usage(RUSAGE_THREAD);
            std::uint8_t report[5];
            std::uint32_t next = 0;
            // Until the writer is done and nothing is left to read.
            for (;;) {
                pollfd readable{fds_[0], POLLIN, 0};
                if (::poll(&readable, 1, 10) <= 0) {
                    if (writer.done() && pendingBytes() == 0) break;
                    continue;
                }
                if (::read(fds_[0], report, sizeof report) != static_cast<ssize_t>(sizeof report)) continue;
                XTestFakeMotionEvent(display_, -1, 100 + report[2], 100 + report[3], CurrentTime);
                XFlush(display_);
                const std::uint32_t sequence = writer.sequenceOf(report[4], next);
                next = sequence + 1;
                ++received;
                result.latenciesUs.push_back((nowNs() - writer.writtenNs(sequence)) / 1000.0);
            }
            result.used += usage(RUSAGE_THREAD) - before;
        });
        writer.start([this](std::uint32_t sequence) {
            const auto report = hoverReport(sequence);
            return writeUnlessFull(pendingBytes(), report.size(), [&] {
                return ::write(fds_[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
            });
        });
        writer.join();
        loop.join();
        result.dropped += writer.dropped();
        result.lost += count - writer.dropped() - std::min(count - writer.dropped(), received);
    }

private:
    std::size_t pendingBytes() const
    {
        int bytes = 0;
        return ::ioctl(fds_[0], FIONREAD, &bytes) == 0 ? static_cast<std::size_t>(bytes) : 0;
    }

    Display* display_;
    int fds_[2];
};

// --- the driver --------------------------------------------------------------

/// When the driver's reader got each report: the FIFO tracker's read port,
/// noting the time its read of a report returned, by the report's tag (byte 4).
class TimedReadPort final : public oru::HidReadPort {
public:
    TimedReadPort(std::unique_ptr<oru::HidReadPort> port, std::array<std::atomic<std::int64_t>, 256>& readNs)
        : port_(std::move(port)), readNs_(readNs)
    {
    }
    bool open(const std::string& path, oru::HidError& error) override { return port_->open(path, error); }
    void close() override { port_->close(); }
    bool isOpen() const override { return port_->isOpen(); }
    oru::HidReadResult read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        const oru::HidReadResult result = port_->read(buffer, length, timeoutMs);
        // Byte 0 is the report ID; the tag is the report's byte 4.
        if (result.status == oru::HidReadStatus::Report && result.bytes > 5)
            readNs_[buffer[5]].store(nowNs(), std::memory_order_release);
        return result;
    }
    oru::HidReadResult waitForReport(int timeoutMs) override { return port_->waitForReport(timeoutMs); }
    void pause(int timeoutMs) override { port_->pause(timeoutMs); }
    oru::HidError goneError() const override { return port_->goneError(); }
    void wake() override { port_->wake(); }

private:
    std::unique_ptr<oru::HidReadPort> port_;
    std::array<std::atomic<std::int64_t>, 256>& readNs_;
};

/// The FIFO tracker whose read port notes when each report was read.
class TimedTracker final : public oru::HidSystem {
public:
    WriteOutcome write(const oru::emulated::Report& report)
    {
        return writeUnlessFull(fifo_.pendingBytes(), report.size(), [&] { return fifo_.write(report); });
    }
    std::int64_t readNs(std::uint8_t tag) const { return readNs_[tag].load(std::memory_order_acquire); }

    bool available() const override { return fifo_.available(); }
    std::vector<oru::HidInterfaceInfo> listInterfaces() override { return fifo_.listInterfaces(); }
    oru::HidAccess probeAccess(const std::string& path, int& errorCode) override
    {
        return fifo_.probeAccess(path, errorCode);
    }
    std::uint16_t inputReportLength(const std::string& path) override { return fifo_.inputReportLength(path); }
    std::unique_ptr<oru::HidReadPort> makeReadPort() override
    {
        return std::make_unique<TimedReadPort>(fifo_.makeReadPort(), readNs_);
    }
    std::unique_ptr<oru::HidDeviceMonitor> openMonitor() override { return fifo_.openMonitor(); }

private:
    oru::test::FifoPenTracker fifo_;
    std::array<std::atomic<std::int64_t>, 256> readNs_{};
};

/// One report's way through the driver, ns: written, read by the reader
/// thread, placed by the main thread.
struct ReportTrace {
    std::uint32_t sequence;
    int turn;
    std::int64_t writtenNs, readNs, placedNs;
};

/// The XTest backend, timing each placement's return against the write of
/// the report being handled (byte 4 of ReportBuffer tells which).
class PlacementProbe final : public oru::PointerOutput {
public:
    explicit PlacementProbe(oru::PointerOutput& backend) : backend_(backend) {}

    void watch(const oru::TMainFormState& state, const PacedWriter* writer, std::vector<double>* latenciesUs,
               const TimedTracker* tracker = nullptr, std::vector<ReportTrace>* traces = nullptr, int turn = 0)
    {
        state_ = &state;
        writer_ = writer;
        latenciesUs_ = latenciesUs;
        tracker_ = tracker;
        traces_ = traces;
        turn_ = turn;
    }
    void expectNext(std::uint32_t sequence) { next_ = sequence; }
    std::uint32_t placed() const { return placed_; }

    void setCursorPos(int xPx, int yPx) override
    {
        backend_.setCursorPos(xPx, yPx);
        const std::int64_t placedNs = nowNs();
        ++placed_;
        if (!state_) return;
        if (!writer_) return;
        const auto tag = static_cast<std::uint8_t>(state_->ReportBuffer[4]);
        const std::uint32_t sequence = writer_->sequenceOf(tag, next_);
        next_ = sequence + 1;
        if (latenciesUs_) latenciesUs_->push_back((placedNs - writer_->writtenNs(sequence)) / 1000.0);
        if (tracker_ && traces_)
            traces_->push_back({sequence, turn_, writer_->writtenNs(sequence), tracker_->readNs(tag), placedNs});
    }
    void mouseEvent(oru::MouseButtonEvent event, int dx, int dy) override { backend_.mouseEvent(event, dx, dy); }
    void pause(int ms) override { backend_.pause(ms); }

private:
    oru::PointerOutput& backend_;
    const oru::TMainFormState* state_ = nullptr;
    const PacedWriter* writer_ = nullptr;
    std::vector<double>* latenciesUs_ = nullptr;
    const TimedTracker* tracker_ = nullptr;
    std::vector<ReportTrace>* traces_ = nullptr;
    int turn_ = 0;
    std::uint32_t next_ = 0;
    std::uint32_t placed_ = 0;
};

/// The program's main window with the XTest backend, its settings in memory
/// holding a calibration, and the FIFO tracker as its only HID device.
class DriverRig {
public:
    DriverRig() : probe_(xtest_), form_(oru::TMainForm::Services{probe_, store_, tracker_, waker_})
    {
        for (int i = 0; i < 8; ++i) form_.Edits[i]->setText(QString::fromLatin1(kCalibrationTexts[i]));
        // Lets runUntil look at its deadline while nothing else happens.
        heartbeat_.start(100);
    }

    TimedTracker& tracker() { return tracker_; }
    PlacementProbe& probe() { return probe_; }
    const oru::TMainFormState& state() const { return form_.state; }

    /// Runs the Qt event loop until done() or the timeout.
    template <typename Done>
    bool runUntil(Done done, std::chrono::milliseconds timeout)
    {
        const auto deadline = SteadyClock::now() + timeout;
        while (!done()) {
            if (SteadyClock::now() > deadline) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    /// First show, device scan and claim, then one report through, so the
    /// reader has opened the node.
    bool start()
    {
        if (!runUntil([&] { return form_.state.Calibrated == 1 && form_.state.PenDevice; }, std::chrono::seconds(5))) {
            return false;
        }
        const std::uint32_t before = probe_.placed();
        if (tracker_.write(hoverReport(0)) != WriteOutcome::Written) return false;
        return runUntil([&] { return probe_.placed() > before; }, std::chrono::seconds(5));
    }

private:
    oru::XTestPointerOutput xtest_;
    PlacementProbe probe_;
    oru::test::MemoryRegistryStore store_;
    TimedTracker tracker_;
    oru::EventFdWaker waker_;
    oru::TMainForm form_;
    QTimer heartbeat_;
};

/// One turn of the driver at the rate; adds its latencies and use to `result`.
void runDriverTurn(DriverRig& rig, int ratePerSecond, int turn, SideResult& result, std::vector<ReportTrace>& traces,
                   int& writeFailures)
{
    const std::uint32_t count = static_cast<std::uint32_t>(ratePerSecond) * kTurnSeconds;
    const std::uint32_t placedBefore = rig.probe().placed();
    PacedWriter writer(count, ratePerSecond);
    rig.probe().expectNext(0);
    rig.probe().watch(rig.state(), &writer, &result.latenciesUs, &rig.tracker(), &traces, turn);
    const Usage before = usage(RUSAGE_SELF);
    writer.start([&rig](std::uint32_t sequence) { return rig.tracker().write(hoverReport(sequence)); });
    rig.runUntil([&] { return writer.done() && rig.probe().placed() - placedBefore >= count - writer.dropped(); },
                 std::chrono::seconds(kTurnSeconds + 5));
    writer.join();
    result.used += usage(RUSAGE_SELF) - before - writer.ownUsage();
    rig.probe().watch(rig.state(), nullptr, nullptr);
    const std::uint32_t written = count - writer.dropped();
    result.lost += written - std::min(written, rig.probe().placed() - placedBefore);
    result.dropped += writer.dropped();
    writeFailures += writer.failures();
}

/// The driver's slowest reports of a run, where their time went.
void printWorst(int rate, std::vector<ReportTrace> traces)
{
    constexpr std::size_t kShown = 5;
    const auto latency = [](const ReportTrace& t) { return t.placedNs - t.writtenNs; };
    std::sort(traces.begin(), traces.end(), [&](const auto& a, const auto& b) { return latency(a) > latency(b); });
    std::fprintf(stderr, "Delivery/%d: the driver's slowest reports (us): written -> read by the reader thread -> "
                         "placed by the main thread\n", rate);
    for (std::size_t i = 0; i < std::min(kShown, traces.size()); ++i) {
        const ReportTrace& t = traces[i];
        std::fprintf(stderr, "  turn %d report %u: %.0f = %.0f to the read + %.0f to the placement\n", t.turn,
                     t.sequence, latency(t) / 1e3, (t.readNs - t.writtenNs) / 1e3, (t.placedNs - t.readNs) / 1e3);
    }
}

std::unique_ptr<Display, int (*)(Display*)> loopDisplay{nullptr, XCloseDisplay};

void Delivery(benchmark::State& state)
{
    const int rate = static_cast<int>(state.range(0));
    for (auto _ : state) {
        try {
            SideResult loop;
            SideResult driver;
            int writeFailures = 0;
            std::vector<ReportTrace> traces;
            traces.reserve(static_cast<std::size_t>(rate) * kTurnSeconds * kTurns);
            MinimalLoop minimal(loopDisplay.get());
            DriverRig rig;
            if (!rig.start()) throw std::runtime_error("the driver did not claim the FIFO tracker and place the pointer");
            for (int turn = 0; turn < kTurns; ++turn) {
                minimal.runTurn(rate, loop);
                runDriverTurn(rig, rate, turn, driver, traces, writeFailures);
            }
            putCounters(state, "loop", loop);
            putCounters(state, "driver", driver);
            state.counters["write_failures"] = writeFailures;
            state.counters["cpu_ratio"] =
                state.counters["driver_cpu_us"].value / std::max(1e-9, state.counters["loop_cpu_us"].value);
            state.counters["p99_ratio"] =
                state.counters["driver_p99_us"].value / std::max(1e-9, state.counters["loop_p99_us"].value);
            printWorst(rate, traces);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            return;
        }
    }
}

void DriverReportLatency(benchmark::State& state)
{
    DriverRig rig;
    if (!rig.start()) {
        state.SkipWithError("the driver did not claim the FIFO tracker and place the pointer");
        return;
    }
    std::vector<double> latenciesUs;
    latenciesUs.reserve(state.max_iterations);
    std::uint32_t sequence = 1;
    for (auto _ : state) {
        const std::uint32_t expected = rig.probe().placed() + 1;
        const std::int64_t writtenNs = nowNs();
        if (rig.tracker().write(hoverReport(sequence++)) != WriteOutcome::Written) {
            state.SkipWithError("the FIFO tracker refused a report");
            break;
        }
        if (!rig.runUntil([&] { return rig.probe().placed() == expected; }, std::chrono::seconds(5))) {
            state.SkipWithError("a report was not placed within 5 s");
            break;
        }
        latenciesUs.push_back((nowNs() - writtenNs) / 1000.0);
    }
    state.counters["median_us"] = percentile(latenciesUs, 0.5);
    state.counters["p99_us"] = percentile(latenciesUs, 0.99);
    state.counters["max_us"] = percentile(latenciesUs, 1.0);
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "oru-bench-hid: DISPLAY is not set; run it under xvfb-run -a\n");
        return 1;
    }
    // As the program does, before any thread starts; the loop's threads get it too.
    oru::requestShortTimeSlices();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    // The minimal loop's own connection, open for the whole run.
    loopDisplay.reset(XOpenDisplay(nullptr));
    if (!loopDisplay) {
        std::fprintf(stderr, "oru-bench-hid: cannot open the X display '%s'\n", XDisplayName(nullptr));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RegisterBenchmark("Delivery", Delivery)
        ->Arg(1000)
        ->Arg(8000)
        ->Iterations(1)
        ->Unit(benchmark::kSecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("DriverReportLatency", DriverReportLatency)
        ->Iterations(20000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    loopDisplay.reset();
    return 0;
}
