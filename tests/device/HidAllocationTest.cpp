// The per-report path of the device layer must not allocate: this program
// replaces the global allocation functions with counting ones and moves
// reports through the real read port, the reader thread, the hand-off and
// the main thread's run of pending work.

#include "device/HidDeviceController.h"
#include "fakes/FifoPenTracker.h"
#include "fakes/TestMainThread.h"

#include "fakes/CountingAllocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>


namespace oru::test {
namespace {

struct Counter {
    std::atomic<int> reports{0};
    void report(THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; }
};

TEST(HidAllocations, DeliveringReportsAllocatesNothing)
{
    FifoPenTracker tracker;
    TestMainThread mainThread;
    THidDeviceController controller(tracker, mainThread);
    controller.DeviceChange();
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller.ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    Counter counter;
    device->setOnReport(THidDataEvent::bind<&Counter::report>(counter));
    const auto pump = [&] { controller.runPending(); };

    // The first report opens the node (paths, descriptor look-up): not per report.
    ASSERT_TRUE(tracker.write(emulated::makeReport(1, 100, 200)));
    ASSERT_TRUE(mainThread.pumpUntil(pump, [&] { return counter.reports == 1; }));

    const long before = oru::test::allocationCount();
    constexpr int kReports = 2000;
    for (int i = 0; i < kReports; ++i) {
        tracker.write(emulated::makeReport(i % 3, i % 16000, 1000, static_cast<std::uint8_t>(i)));
        if (i % 100 == 99) mainThread.pumpUntil(pump, [&] { return counter.reports == i + 2; });
    }
    ASSERT_TRUE(mainThread.pumpUntil(pump, [&] { return counter.reports == kReports + 1; }));
    EXPECT_EQ(oru::test::allocationCount() - before, 0);

    controller.ReleaseDevice(device);
}

} // namespace
} // namespace oru::test
