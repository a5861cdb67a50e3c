#include "DeviceTestSupport.h"

#include <chrono>
#include <stdexcept>

namespace oru::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ReaderTest : public DeviceTest {
protected:
    /// Lists one tracker, claims it and attaches the log's report handler.
    THidDevice* claimTracker(HidAccess access = HidAccess::ReadWrite)
    {
        plugTracker("T1", access);
        controller->DeviceChange();
        THidDevice* device = nullptr;
        EXPECT_TRUE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
        device->setOnReport(log.reportHandler());
        return device;
    }

    void pushNumbered(int count, int first = 0)
    {
        for (int i = first; i < first + count; ++i) {
            pushTrackerReport("T1", emulated::makeReport(1, i, 2 * i, static_cast<std::uint8_t>(i)));
        }
    }
};

TEST_F(ReaderTest, ReportsReachTheHandlerInOrderOnTheMainThread)
{
    THidDevice* device = claimTracker();
    constexpr int kReports = 200;
    pushNumbered(kReports);
    ASSERT_TRUE(pumpUntil([&] { return log.reports.size() == kReports; }));

    EXPECT_EQ(log.offMainThread, 0);
    for (int i = 0; i < kReports; ++i) {
        const auto expected = emulated::makeReport(1, i, 2 * i, static_cast<std::uint8_t>(i));
        ASSERT_EQ(log.reports[i], std::vector<std::uint8_t>(expected.begin(), expected.end())) << "report " << i;
        ASSERT_EQ(log.reportIds[i], 0) << "a device without numbered reports gives ID 0";
    }
    controller->ReleaseDevice(device);
}

TEST_F(ReaderTest, SizeIsTheBytesReadLessTheReportId)
{
    THidDevice* device = claimTracker();
    hid.pushReport("T1", {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47});  // longer than the report: cut to 6 bytes read
    hid.pushReport("T1", {});                                          // the ID byte alone
    hid.pushReport("T1", {0x11, 0x22}, 7);
    ASSERT_TRUE(pumpUntil([&] { return log.reports.size() == 3; }));
    EXPECT_EQ(log.reports[0], (std::vector<std::uint8_t>{0x41, 0x42, 0x43, 0x44, 0x45}));
    EXPECT_TRUE(log.reports[1].empty());
    EXPECT_EQ(log.reports[2], (std::vector<std::uint8_t>{0x11, 0x22}));
    EXPECT_EQ(log.reportIds[2], 7);
    controller->ReleaseDevice(device);
}

TEST_F(ReaderTest, NextReportIsReadOnlyAfterTheHandlerReturned)
{
    THidDevice* device = claimTracker();
    std::vector<std::size_t> queuedDuringHandler;
    log.onReport = [&](THidDevice&) { queuedDuringHandler.push_back(hid.queuedReports("T1")); };
    pushNumbered(3);
    ASSERT_TRUE(pumpUntil([&] { return log.reports.size() == 3; }));
    EXPECT_EQ(queuedDuringHandler, (std::vector<std::size_t>{2, 1, 0}));
    controller->ReleaseDevice(device);
}

TEST_F(ReaderTest, ReleaseWhileAHandOffIsQueuedStillDeliversIt)
{
    THidDevice* device = claimTracker();
    pushNumbered(1);
    // Let the reader queue its hand-off, but don't run it.
    ASSERT_TRUE(mainThread.pumpUntil([] {}, [&] { return controller->handoff().hasPending(); }));
    int openDuringHandler = -1;
    log.onReport = [&](THidDevice&) { openDuringHandler = hid.openPorts; };

    controller->ReleaseDevice(device);
    EXPECT_EQ(log.reports.size(), 1u);
    EXPECT_EQ(openDuringHandler, 1) << "delivered before the release closed the channel";
    EXPECT_EQ(hid.openPorts, 0);
    EXPECT_FALSE(controller->handoff().hasPending());
}

TEST_F(ReaderTest, StopWhileTheReadWaitsEndsPromptly)
{
    plugTracker("T1");
    controller->DeviceChange();
    controller->at(0).setWaitSlice(10000);
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    device->setOnReport(log.reportHandler());
    ASSERT_TRUE(pumpUntil([&] { return hid.readCalls >= 1; }));  // the reader waits in a 10 s read
    THidDevice* const record = device;
    const auto before = Clock::now();
    controller->ReleaseDevice(device);
    EXPECT_LT(Clock::now() - before, 2s) << "the stop must interrupt the wait, not sit out the 10 s slice";
    EXPECT_FALSE(record->hasReader());
}

TEST_F(ReaderTest, ExceptionInTheHandlerDropsThatReportAndReadingGoesOn)
{
    THidDevice* device = claimTracker();
    int calls = 0;
    log.onReport = [&](THidDevice&) {
        ++calls;
        if (calls == 2 || calls == 4) throw std::runtime_error("Floating point division by zero");
    };
    pushNumbered(6);
    ASSERT_TRUE(pumpUntil([&] { return calls == 6; }));
    EXPECT_EQ(log.reports.size(), 6u);

    const auto lines = diagnostics.lines();
    ASSERT_EQ(lines.size(), 1u) << "told once";
    EXPECT_NE(lines[0].find("Floating point division by zero"), std::string::npos);
    EXPECT_NE(lines[0].find(device->InterfacePath()), std::string::npos);
    EXPECT_TRUE(device->hasReader());
    controller->ReleaseDevice(device);
}

TEST_F(ReaderTest, RefusedReadsAreRetriedWithBackOffNotInALoop)
{
    THidDevice* device = claimTracker();
    device->setOnReportError(log.errorHandler());
    device->setWaitSlice(50);
    hid.change("T1", [](auto& d) { d.readError = {HidErrorKind::Other, EIO}; });
    const int readsBefore = hid.readCalls;
    pumpUntil([] { return false; }, 400ms);
    const int reads = hid.readCalls - readsBefore;
    EXPECT_GE(reads, 2);
    EXPECT_LE(reads, 12) << "400 ms at 50 ms per retry or more";
    ASSERT_FALSE(log.errors.empty());
    EXPECT_EQ(log.errors.front(), static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(log.offMainThread, 0);

    hid.change("T1", [](auto& d) { d.readError = {}; });
    pushNumbered(1);
    EXPECT_TRUE(pumpUntil([&] { return log.reports.size() == 1; })) << "reads resume once the device reads again";
    controller->ReleaseDevice(device);
}

TEST_F(ReaderTest, UnplugDuringAReadEndsInPacedErrorsAndTheReleaseEndsTheReader)
{
    THidDevice* device = claimTracker();
    device->setOnReportError(log.errorHandler());
    device->setWaitSlice(50);
    ASSERT_TRUE(pumpUntil([&] { return hid.readCalls >= 1; }));
    hid.unplug("T1");
    controller->DeviceChange();  // HandleUnplug: the reader is woken and stops using the node
    EXPECT_TRUE(pumpUntil([&] { return !log.errors.empty(); }, 1s));
    EXPECT_EQ(hid.openPorts, 0);
    pumpUntil([] { return false; }, 300ms);
    EXPECT_LE(log.errors.size(), 12u) << "no spinning while the gone record is still held";

    controller->ReleaseDevice(device);
    EXPECT_EQ(controller->Count(), 0u);
}

TEST_F(ReaderTest, SettingTheSameHandlerAgainKeepsTheReaderAndUnsetStopsIt)
{
    THidDevice* device = claimTracker();
    pushNumbered(1);
    ASSERT_TRUE(pumpUntil([&] { return log.reports.size() == 1; }));
    device->setOnReport(log.reportHandler());
    pushNumbered(1, 1);
    ASSERT_TRUE(pumpUntil([&] { return log.reports.size() == 2; }));
    EXPECT_EQ(hid.portOpens, 1) << "one reader, one open of the node";

    device->setOnReport({});
    EXPECT_FALSE(device->hasReader());
    EXPECT_EQ(hid.openPorts, 0);
    controller->ReleaseDevice(device);
}

TEST_F(ReaderTest, StoppingFromInsideItsOwnHandlerIsRefusedNotADeadlock)
{
    THidDevice* device = claimTracker();
    log.onReport = [&](THidDevice& self) { self.setOnReport({}); };
    pushNumbered(2);
    ASSERT_TRUE(pumpUntil([&] { return log.reports.size() == 2; }));
    EXPECT_EQ(diagnostics.lines().size(), 1u);
    EXPECT_TRUE(device->hasReader());
    log.onReport = nullptr;
    controller->ReleaseDevice(device);
}

} // namespace
} // namespace oru::test
