// Report delivery through the real reader: a report made readable on the
// tracker's node (a FIFO read by the hidraw read port) goes through the
// reader thread, the hand-off and the main loop (the program's own: a Qt
// event loop watching the eventfd waker with a QSocketNotifier) to the
// report handler.
//
//   HidReportLatency: one report at a time; time from the write that makes
//     it readable to the start of the handler (median, p99, max).
//   HidSustained8000PerSecond: 8,000 reports/s for 10 s from a paced writer
//     thread; losses, reorders, latency under load, and the CPU the driver
//     side (reader + main thread) takes.

#include "device/HidDeviceController.h"
#include "fakes/FifoPenTracker.h"
#include "platform/linux/EventFdWaker.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using oru::test::FifoPenTracker;
using SteadyClock = std::chrono::steady_clock;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count();
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Reports carry a 24-bit sequence number in their last three bytes.
oru::emulated::Report sequencedReport(std::uint32_t sequence)
{
    return {0x40, 0x01, static_cast<std::uint8_t>(sequence >> 16), static_cast<std::uint8_t>(sequence >> 8),
            static_cast<std::uint8_t>(sequence)};
}
std::uint32_t sequenceOf(const std::uint8_t* data) { return (data[2] << 16) | (data[3] << 8) | data[4]; }

/// The driver side: controller, claimed tracker, and a main loop on the
/// calling thread that runs pending work whenever the waker fires.
class DeliveryRig {
public:
    explicit DeliveryRig(oru::THidDataEvent handler)
        : controller_(tracker_, waker_), notifier_(waker_.fd(), QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] {
            waker_.consume();
            controller_.runPending();
        });
        // Lets runUntil look at its deadline while no report comes.
        heartbeat_.start(100);
        controller_.DeviceChange();
        controller_.ClaimByIds(device_, oru::emulated::kVendorId, oru::emulated::kProductId);
        device_->setOnReport(handler);
    }
    ~DeliveryRig() { controller_.ReleaseDevice(device_); }

    FifoPenTracker& tracker() { return tracker_; }

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

private:
    FifoPenTracker tracker_;
    oru::EventFdWaker waker_;
    oru::THidDeviceController controller_;
    oru::THidDevice* device_ = nullptr;
    QSocketNotifier notifier_;
    QTimer heartbeat_;
};

double percentile(std::vector<double>& values, double fraction)
{
    if (values.empty()) return 0;
    const std::size_t index = std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()));
    std::nth_element(values.begin(), values.begin() + index, values.end());
    return values[index];
}

struct LatencyProbe {
    std::int64_t handlerStartNs = 0;
    int handled = 0;
    void report(oru::THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t)
    {
        handlerStartNs = nowNs();
        ++handled;
    }
};

void HidReportLatency(benchmark::State& state)
{
    LatencyProbe probe;
    DeliveryRig rig(oru::THidDataEvent::bind<&LatencyProbe::report>(probe));
    // Warm-up: the reader opens the node and settles.
    rig.tracker().write(sequencedReport(0));
    rig.runUntil([&] { return probe.handled == 1; }, std::chrono::seconds(5));

    std::vector<double> latenciesUs;
    latenciesUs.reserve(state.max_iterations);
    std::uint32_t sequence = 1;
    for (auto _ : state) {
        const int expected = probe.handled + 1;
        const std::int64_t writtenNs = nowNs();
        rig.tracker().write(sequencedReport(sequence++));
        if (!rig.runUntil([&] { return probe.handled == expected; }, std::chrono::seconds(5))) {
            state.SkipWithError("a report did not arrive within 5 s");
            break;
        }
        latenciesUs.push_back((probe.handlerStartNs - writtenNs) / 1000.0);
    }
    state.counters["reports"] = static_cast<double>(latenciesUs.size());
    state.counters["median_us"] = percentile(latenciesUs, 0.5);
    state.counters["p99_us"] = percentile(latenciesUs, 0.99);
    state.counters["max_us"] = percentile(latenciesUs, 1.0);
}
BENCHMARK(HidReportLatency)->Iterations(20000)->Unit(benchmark::kMicrosecond);

constexpr int kRatePerSecond = 8000;
constexpr int kSeconds = 10;
constexpr std::uint32_t kSustainedReports = kRatePerSecond * kSeconds;

struct SequenceChecker {
    std::uint32_t expected = 0;
    std::uint64_t received = 0;
    std::uint64_t lost = 0;
    std::uint64_t reordered = 0;
    const std::atomic<std::int64_t>* writtenNs = nullptr;  // per sequence, set by the writer
    std::vector<double>* latenciesUs = nullptr;

    void report(oru::THidDevice&, std::uint8_t, const std::uint8_t* data, std::uint16_t size)
    {
        if (size < 5) return;
        const std::uint32_t sequence = sequenceOf(data);
        if (sequence >= kSustainedReports) return;
        const std::int64_t now = nowNs();
        if (sequence < expected) {
            ++reordered;
        } else {
            lost += sequence - expected;
            expected = sequence + 1;
        }
        ++received;
        const std::int64_t written = writtenNs[sequence].load(std::memory_order_relaxed);
        if (written != 0) latenciesUs->push_back((now - written) / 1000.0);
    }
};

void HidSustained8000PerSecond(benchmark::State& state)
{
    constexpr std::uint32_t kReports = kSustainedReports;
    constexpr std::int64_t kPeriodNs = 1'000'000'000 / kRatePerSecond;

    for (auto _ : state) {
        auto writtenNs = std::make_unique<std::atomic<std::int64_t>[]>(kReports);
        std::vector<double> latenciesUs;
        latenciesUs.reserve(kReports);
        SequenceChecker checker{0, 0, 0, 0, writtenNs.get(), &latenciesUs};
        DeliveryRig rig(oru::THidDataEvent::bind<&SequenceChecker::report>(checker));

        std::atomic<bool> writerDone{false};
        double writerCpuSeconds = 0;
        std::uint64_t writeFailures = 0;
        const double processCpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto wallStart = SteadyClock::now();
        std::thread writer([&] {
            timespec next{};
            clock_gettime(CLOCK_MONOTONIC, &next);
            for (std::uint32_t sequence = 0; sequence < kReports; ++sequence) {
                next.tv_nsec += kPeriodNs;
                if (next.tv_nsec >= 1'000'000'000) {
                    next.tv_nsec -= 1'000'000'000;
                    ++next.tv_sec;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
                writtenNs[sequence].store(nowNs(), std::memory_order_relaxed);
                if (!rig.tracker().write(sequencedReport(sequence))) ++writeFailures;
            }
            writerCpuSeconds = cpuSeconds(RUSAGE_THREAD);
            writerDone = true;
        });
        rig.runUntil([&] { return writerDone && checker.received + checker.lost >= kReports; },
                     std::chrono::seconds(kSeconds + 5));
        writer.join();
        const double wallSeconds = std::chrono::duration<double>(SteadyClock::now() - wallStart).count();
        const double driverCpuSeconds = cpuSeconds(RUSAGE_SELF) - processCpuBefore - writerCpuSeconds;

        state.counters["sent"] = kReports;
        state.counters["received"] = static_cast<double>(checker.received);
        const std::uint64_t neverSeen = kReports - std::min<std::uint64_t>(kReports, checker.received + checker.lost);
        state.counters["lost"] = static_cast<double>(checker.lost + neverSeen);
        state.counters["reordered"] = static_cast<double>(checker.reordered);
        state.counters["write_failures"] = static_cast<double>(writeFailures);
        state.counters["rate_per_s"] = checker.received / wallSeconds;
        state.counters["driver_cpu_pct"] = 100.0 * driverCpuSeconds / wallSeconds;
        state.counters["median_us"] = percentile(latenciesUs, 0.5);
        state.counters["p99_us"] = percentile(latenciesUs, 0.99);
        state.counters["max_us"] = percentile(latenciesUs, 1.0);
    }
}
BENCHMARK(HidSustained8000PerSecond)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
