// The hidraw backend against the kernel's own HID stack: the emulated pen
// tracker is a real HID device made through /dev/uhid, hidraw gives it a
// node and systemd-udevd announces it. Runs as root inside the test guest
// (tests/kernel/vm-run.sh); tests/kernel/guest-suite.sh starts it there.

#include "device/HidDeviceController.h"
#include "fakes/TestMainThread.h"
#include "kernel/UhidTracker.h"
#include "platform/linux/LinuxHidSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace oru::test {
namespace {

using namespace std::chrono_literals;
using emulated::UhidTracker;

// Time limits are generous: the guest runs without hardware virtualisation.
constexpr auto kEventLimit = 20s;

class KernelHidTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/dev/uhid", R_OK | W_OK) != 0) {
            FAIL() << "/dev/uhid is not usable (" << std::strerror(errno)
                   << "): this test runs as root in the test guest, through tests/kernel/vm-run.sh";
        }
    }

    static std::optional<HidInterfaceInfo> listed(LinuxHidSystem& hid, const std::string& node)
    {
        for (const auto& info : hid.listInterfaces())
            if (info.path == node) return info;
        return std::nullopt;
    }
};

struct TrackerKind {
    const char* name;
    bool numbered;
};

class KernelTrackerKindTest : public KernelHidTest, public ::testing::WithParamInterface<TrackerKind> {};

TEST_P(KernelTrackerKindTest, IsListedWithItsIdsAndReadOneReportPerRead)
{
    UhidTracker tracker({.numberedReports = GetParam().numbered});
    LinuxHidSystem hid;
    ASSERT_TRUE(hid.available());
    const auto info = listed(hid, tracker.node());
    ASSERT_TRUE(info) << tracker.node() << " not listed";
    EXPECT_EQ(info->identity, tracker.identity());
    EXPECT_EQ(info->vendorId, emulated::kVendorId);
    EXPECT_EQ(info->productId, emulated::kProductId);
    // A uhid device has no USB parent, whose bcdDevice is the only place the
    // version shows on Linux: it reads 0, as for any device off USB.
    EXPECT_EQ(info->version, 0);
    // The report ID byte counts in both: 5 data bytes + 1.
    EXPECT_EQ(hid.inputReportLength(tracker.node()), emulated::kInputReportLength);
    int error = -1;
    EXPECT_EQ(hid.probeAccess(tracker.node(), error), HidAccess::ReadWrite);

    auto port = hid.makeReadPort();
    HidError openError;
    ASSERT_TRUE(port->open(tracker.node(), openError)) << std::strerror(openError.code);
    ASSERT_TRUE(tracker.waitOpen(true, kEventLimit));
    const emulated::Report sent[] = {emulated::makeReport(1, 1000, 700, 0xAB), emulated::makeReport(0, 0, 0),
                                     {0x5E, 0x00, 0x0A, 0xFF, 0x80}};
    // Queued before the first read: hidraw keeps them apart, so even a read
    // with room for all of them takes exactly one.
    for (const auto& report : sent) ASSERT_TRUE(tracker.send(report));
    for (const auto& report : sent) {
        std::uint8_t buffer[64];
        std::memset(buffer, 0xEE, sizeof buffer);
        const auto result = port->read(buffer, sizeof buffer, 5000);
        ASSERT_EQ(result.status, HidReadStatus::Report);
        ASSERT_EQ(result.bytes, emulated::kInputReportLength);
        EXPECT_EQ(buffer[0], GetParam().numbered ? emulated::kNumberedReportId : 0);
        EXPECT_TRUE(std::equal(report.begin(), report.end(), buffer + 1));
    }
    std::uint8_t buffer[emulated::kInputReportLength];
    EXPECT_EQ(port->read(buffer, sizeof buffer, 50).status, HidReadStatus::TimedOut);
    port->close();
    EXPECT_TRUE(tracker.waitOpen(false, kEventLimit)) << "the kernel saw no close of the node";
}

INSTANTIATE_TEST_SUITE_P(Descriptors, KernelTrackerKindTest,
                         ::testing::Values(TrackerKind{"WithoutReportId", false}, TrackerKind{"WithReportId", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(KernelHidTest, AWaitingReaderSeesTheUnplugAsGone)
{
    LinuxHidSystem hid;
    auto port = hid.makeReadPort();
    std::string node;
    {
        UhidTracker tracker;
        node = tracker.node();
        HidError error;
        ASSERT_TRUE(port->open(node, error)) << std::strerror(error.code);
        ASSERT_TRUE(tracker.waitOpen(true, kEventLimit));
    }  // UHID_DESTROY while the port is open
    std::uint8_t buffer[emulated::kInputReportLength];
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(port->read(buffer, sizeof buffer, 10000).status, HidReadStatus::Gone);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_FALSE(port->isOpen());
}

/// The controller as the program uses it, fed by the real udev monitor.
class KernelControllerTest : public KernelHidTest {
protected:
    struct Log {
        std::vector<std::pair<std::string, emulated::Report>> reports;  // identity, data
        THidDevice* held = nullptr;
        void change(THidDeviceController& controller)
        {
            // Release and claim again, as the main window does.
            controller.ReleaseDevice(held);
            if (controller.ClaimByIds(held, emulated::kVendorId, emulated::kProductId))
                held->setOnReport(THidDataEvent::bind<&Log::report>(*this));
        }
        void report(THidDevice& device, std::uint8_t, const std::uint8_t* data, std::uint16_t size)
        {
            emulated::Report report{};
            std::copy(data, data + std::min<std::size_t>(size, report.size()), report.begin());
            reports.emplace_back(device.InstanceId(), report);
        }
    };

    void SetUp() override
    {
        KernelHidTest::SetUp();
        if (HasFatalFailure()) return;
        controller.emplace(hid, mainThread);
        controller->setOnDeviceChange(TNotifyEvent::bind<&Log::change>(log));
        controller->Loaded();
        controller->runPending();
        ASSERT_GE(controller->DeviceNotificationFd(), 0) << "no udev monitor: is systemd-udevd running?";
    }
    void TearDown() override
    {
        if (controller) controller->ReleaseDevice(log.held);
        controller.reset();
    }

    /// Hands udev's events to the controller until done() holds.
    template <typename Done>
    bool followUntil(Done done, std::chrono::milliseconds timeout = kEventLimit)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms) return false;
            pollfd pfd{controller->DeviceNotificationFd(), POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(std::min(left, 20ms).count())) == 1) controller->DeviceNotificationReady();
            controller->runPending();
        }
        return true;
    }

    bool reportsArrive(UhidTracker& tracker, int count)
    {
        const std::size_t before = log.reports.size();
        for (int i = 0; i < count; ++i)
            if (!tracker.send(emulated::makeReport(1, 100 + i, 200 + i, static_cast<std::uint8_t>(i)))) return false;
        return mainThread.pumpUntil([&] { controller->runPending(); },
                                    [&] { return log.reports.size() == before + static_cast<std::size_t>(count); },
                                    kEventLimit) &&
               log.reports.back().first == tracker.identity();
    }

    TestMainThread mainThread;
    LinuxHidSystem hid;
    std::optional<THidDeviceController> controller;
    Log log;
};

TEST_F(KernelControllerTest, UnplugWhileTheReaderWaitsThenReplugIsClaimedAgain)
{
    std::string firstIdentity;
    {
        UhidTracker tracker;
        firstIdentity = tracker.identity();
        ASSERT_TRUE(followUntil([&] { return log.held && log.held->InstanceId() == firstIdentity; }))
            << "the plugged tracker was not claimed";
        ASSERT_TRUE(tracker.waitOpen(true, kEventLimit)) << "the reader did not open " << tracker.node();
        ASSERT_TRUE(reportsArrive(tracker, 3));
    }  // unplugged while the reader waits for the next report
    ASSERT_TRUE(followUntil([&] { return log.held == nullptr && controller->Count() == 0; }))
        << "the unplugged tracker's record stayed";

    UhidTracker again;
    EXPECT_NE(again.identity(), firstIdentity) << "a new plug is a new device";
    ASSERT_TRUE(followUntil([&] { return log.held && log.held->InstanceId() == again.identity(); }))
        << "the re-plugged tracker was not claimed";
    ASSERT_TRUE(again.waitOpen(true, kEventLimit));
    EXPECT_TRUE(reportsArrive(again, 3));
}

TEST_F(KernelControllerTest, TwoTrackersAreListedApartAndEachIsRead)
{
    UhidTracker first, second;
    ASSERT_TRUE(followUntil([&] { return controller->Count() == 2; }));
    EXPECT_NE(first.node(), second.node());
    ASSERT_NE(log.held, nullptr);
    // A second claim by the same IDs takes the other one.
    THidDevice* other = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(other, emulated::kVendorId, emulated::kProductId));
    other->setOnReport(THidDataEvent::bind<&Log::report>(log));
    EXPECT_NE(other->InstanceId(), log.held->InstanceId());
    ASSERT_TRUE(first.waitOpen(true, kEventLimit));
    ASSERT_TRUE(second.waitOpen(true, kEventLimit));
    EXPECT_TRUE(reportsArrive(first, 2));
    EXPECT_TRUE(reportsArrive(second, 2));
    controller->ReleaseDevice(other);
}

struct IgnoredReports {
    void report(THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) {}
};

TEST_F(KernelHidTest, AUserWithoutAccessToTheNodeGetsARecordWithoutAReader)
{
    UhidTracker tracker;
    struct stat st {};
    ASSERT_EQ(::stat(tracker.node().c_str(), &st), 0);
    ASSERT_EQ(st.st_mode & 07777, 0600u) << "the kernel's default mode for a hidraw node";

    // A child as "nobody" (no rule gives it the node) looks; what it saw
    // comes back through a pipe.
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        const uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) _exit(90);
        std::ostringstream said;
        {
            LinuxHidSystem hid;
            int error = 0;
            said << "probe " << static_cast<int>(hid.probeAccess(tracker.node(), error)) << " " << error << "\n";
            TestMainThread mainThread;
            THidDeviceController controller(hid, mainThread);
            controller.Loaded();
            controller.runPending();
            THidDevice* device = nullptr;
            IgnoredReports ignored;
            if (controller.ClaimByIds(device, emulated::kVendorId, emulated::kProductId)) {
                device->setOnReport(THidDataEvent::bind<&IgnoredReports::report>(ignored));
                said << "claimed " << device->InstanceId() << " access " << device->ReadWriteAccess() << " "
                     << device->accessError() << " reader " << device->hasReader() << "\n";
                controller.ReleaseDevice(device);
            }
        }
        const std::string text = said.str();
        [[maybe_unused]] const ssize_t n = ::write(out[1], text.data(), text.size());
        _exit(0);
    }
    ::close(out[1]);
    std::string said;
    char chunk[512];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;) said.append(chunk, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    const std::string expected = "probe " + std::to_string(static_cast<int>(HidAccess::QueryOnly)) + " " +
                                 std::to_string(EACCES) + "\nclaimed " + tracker.identity() + " access 0 " +
                                 std::to_string(EACCES) + " reader 0\n";
    EXPECT_EQ(said, expected);
}

} // namespace
} // namespace oru::test
