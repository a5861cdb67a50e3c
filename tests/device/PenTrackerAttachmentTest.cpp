#include "DeviceTestSupport.h"

#include "device/PenTrackerAttachment.h"
#include "fakes/CountingTimer.h"
#include "fakes/RecordingPointerOutput.h"
#include "pen/PenPipeline.h"

namespace oru::test {
namespace {

class RecordingTray final : public TrayStatus {
public:
    std::vector<std::string> calls;
    void setColor(std::uint32_t bgr) override { calls.push_back("color " + hex(bgr)); }
    void setFontColor(std::uint32_t bgr) override { calls.push_back("font " + hex(bgr)); }

private:
    static std::string hex(std::uint32_t value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%06X", value);
        return text;
    }
};

class AttachmentTest : public DeviceTest {
protected:
    AttachmentTest()
    {
        attachment.setOnNoAccess([this](const THidDevice& device) { notices.push_back(device.InstanceId()); });
        // Bound in the window's definition (while loading) and once more at creation.
        controller->setOnDeviceChange(attachment.deviceChangeHandler());
    }
    ~AttachmentTest() override { controller->ReleaseDevice(state.PenDevice); }

    void start()
    {
        controller->Loaded();
        controller->setOnDeviceChange(attachment.deviceChangeHandler());
        controller->runPending();
    }

    TMainFormState state;
    RecordingPointerOutput pointer;
    CountingTimer watchdog;
    PenPipeline pipeline{state, pointer, watchdog};
    RecordingTray tray;
    DiagnosticLog attachmentDiagnostics;
    PenTrackerAttachment attachment{state, *controller, pipeline, tray, attachmentDiagnostics.sink()};
    std::vector<std::string> notices;
};

const std::vector<std::string> kGreen = {"color 008000", "font FFFFFF"};
const std::vector<std::string> kRed = {"color 0000FF", "font FFFFFF"};

TEST_F(AttachmentTest, NoHidDeviceAtAllLeavesTheTrayAlone)
{
    start();
    EXPECT_TRUE(tray.calls.empty());
    EXPECT_EQ(state.PenDevice, nullptr);
}

TEST_F(AttachmentTest, DevicesWithoutTrackerTurnTheTrayRed)
{
    hid.plug("K", 0x046D, 0xC31C);
    start();
    EXPECT_EQ(tray.calls, kRed);
    EXPECT_EQ(state.PenDevice, nullptr);
}

TEST_F(AttachmentTest, TrackerFoundTurnsTheTrayGreenAndItsReportsReachShowRead)
{
    plugTracker("T1");
    start();
    EXPECT_EQ(tray.calls, kGreen);
    ASSERT_NE(state.PenDevice, nullptr);
    EXPECT_TRUE(state.PenDevice->hasReader());

    pushTrackerReport("T1", emulated::makeReport(2, 1000, 700));
    ASSERT_TRUE(pumpUntil([&] { return state.DistanceA == 1000; }));
    EXPECT_EQ(state.PenState, psRight);
    EXPECT_EQ(state.DistanceB, 700);
    EXPECT_EQ(state.ReportBuffer[0], emulated::makeReport(2, 1000, 700)[0]);
}

TEST_F(AttachmentTest, BindingTheSameHandlerAtCreationStartsNoSecondRescan)
{
    plugTracker("T1");
    int rescans = 0;
    struct Counter {
        int* rescans;
        void arrival(THidDevice&) { ++*rescans; }
    } counter{&rescans};
    controller->setOnArrival(THidPlugEvent::bind<&Counter::arrival>(counter));
    start();
    EXPECT_EQ(tray.calls, kGreen) << "one device change, one pair of colour calls";
    EXPECT_EQ(rescans, 1);
}

TEST_F(AttachmentTest, UnpluggedTrackerTurnsTheTrayRedAndClearsPenDevice)
{
    plugTracker("T1");
    hid.plug("K", 0x046D, 0xC31C);
    start();
    hid.unplug("T1");
    controller->DeviceChange();
    EXPECT_EQ(state.PenDevice, nullptr);
    EXPECT_EQ(tray.calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(tray.calls.begin() + 2, tray.calls.end()), kRed);
    EXPECT_EQ(controller->Count(), 1u) << "the gone record was destroyed by the release";
}

TEST_F(AttachmentTest, AnyDeviceChangeReclaimsTheTrackerWithAFreshReader)
{
    plugTracker("T1");
    start();
    THidDevice* const first = state.PenDevice;
    ASSERT_TRUE(pumpUntil([&] { return hid.portOpens == 1; }));
    hid.plug("M", 0x046D, 0xC077);
    controller->DeviceChange();
    EXPECT_EQ(state.PenDevice, first);
    EXPECT_TRUE(state.PenDevice->hasReader());
    EXPECT_TRUE(pumpUntil([&] { return hid.portOpens == 2; })) << "the re-claim started another reader";
    EXPECT_EQ(hid.openPorts, 1) << "the release stopped the first";
}

TEST_F(AttachmentTest, DeviceChangeLeavesPenStateAndWatchdogAlone)
{
    plugTracker("T1");
    state.LastPenState = psLeft;
    state.Calibrated = 1;
    state.Calibrating = 0;
    start();
    EXPECT_EQ(state.LastPenState, psLeft);
    EXPECT_EQ(state.Calibrated, 1);
    EXPECT_EQ(watchdog.restarts, 0);
    EXPECT_TRUE(pointer.calls.empty());
}

TEST_F(AttachmentTest, TrackerWithoutAccessIsToldOncePerPlugAndAReplugWithAccessReads)
{
    plugTracker("T1.0001", HidAccess::QueryOnly);
    start();
    EXPECT_EQ(tray.calls, kGreen) << "found, even if unreadable";
    EXPECT_FALSE(state.PenDevice->hasReader());
    hid.plug("K", 0x046D, 0xC31C);
    controller->DeviceChange();  // re-claim: not told again
    EXPECT_EQ(notices, std::vector<std::string>{"T1.0001"});
    const auto lines = attachmentDiagnostics.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("70-oru-pen-tracker.rules"), std::string::npos);
    EXPECT_NE(lines[0].find("/dev/hidraw-T1.0001"), std::string::npos);

    // The user installs the rule and plugs the tracker in again.
    hid.unplug("T1.0001");
    plugTracker("T1.0002");
    controller->DeviceChange();
    ASSERT_NE(state.PenDevice, nullptr);
    EXPECT_EQ(state.PenDevice->InstanceId(), "T1.0002");
    pushTrackerReport("T1.0002", emulated::makeReport(1, 500, 600));
    EXPECT_TRUE(pumpUntil([&] { return state.DistanceA == 500; }));
    EXPECT_EQ(notices.size(), 1u);
}

} // namespace
} // namespace oru::test
