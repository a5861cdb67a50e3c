#include "DeviceTestSupport.h"

#include "device/PenTrackerAttachment.h"
#include "fakes/RecordingPointerOutput.h"
#include "pen/PenPipeline.h"

namespace oru::test {
namespace {

class RecordingTray final : public TrayStatus {
public:
    std::vector<std::string> calls;
    void setTrayColors(TColor color, TColor fontColor) override
    {
        calls.push_back("color " + hex(color));
        calls.push_back("font " + hex(fontColor));
    }

private:
    static std::string hex(TColor value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(value));
        return text;
    }
};

// The main window's ShowRead as far as these tests look: the report goes
// through the pen pipeline into the state.
struct MainWindowShowRead {
    PenPipeline& pipeline;
    void ShowRead(THidDevice&, std::uint8_t, const std::uint8_t* Data, std::uint16_t Size)
    {
        pipeline.ShowRead(Data, Size, PenTime{0});
    }
};

class AttachmentTest : public DeviceTest {
protected:
    AttachmentTest()
    {
        attachment.setOnNoAccess([this](const THidDevice& device) { notices.push_back(device.InstanceId()); });
        attachment.setOnUserNotice([this](const std::string& text) { userNotices.push_back(text); });
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
    PenPipeline pipeline{state, pointer};
    MainWindowShowRead showRead{pipeline};
    RecordingTray tray;
    DiagnosticLog attachmentDiagnostics;
    PenTrackerAttachment attachment{state.PenDevice, *controller,
                                    THidDataEvent::bind<&MainWindowShowRead::ShowRead>(showRead), tray,
                                    attachmentDiagnostics.sink()};
    std::vector<std::string> notices;
    std::vector<std::string> userNotices;
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
    const PenTime watchdogDue = pipeline.watchdogDue();
    start();
    EXPECT_EQ(state.LastPenState, psLeft);
    EXPECT_EQ(state.Calibrated, 1);
    EXPECT_EQ(pipeline.watchdogDue(), watchdogDue);
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
    EXPECT_NE(lines[0].find(hid.advice().grantAccessAdvice()), std::string::npos) << "the HID layer's advice";
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

// A tracker that may be read but can't be: tray green (found), told once per
// plug on stderr and, where the user must act, in a notice; no reader for a
// descriptor without an input report length, and a reader whose attempts back
// off (pauses in virtual time) instead of polling every WaitSlice.
struct ReadFailureRow {
    const char* name;
    HidDescriptorStatus descriptor;
    HidError descriptorError;
    HidError openError;
    HidError readError;
    HidReadProblem expected;
    const char* cause;  // parts of the stderr line
    const char* remedy;
    bool notice;
};

void PrintTo(const ReadFailureRow& row, std::ostream* out) { *out << row.name; }

class ReadFailureTest : public AttachmentTest, public testing::WithParamInterface<ReadFailureRow> {};

TEST_P(ReadFailureTest, IsToldOncePerPlugAndRetriedWithBackOffNotPolled)
{
    const ReadFailureRow& row = GetParam();
    const auto broken = [&](FakeHidSystem::Device& device) {
        device.descriptor = row.descriptor;
        device.descriptorError = row.descriptorError;
        device.openError = row.openError;
        device.readError = row.readError;
    };
    const bool readerRuns = row.descriptor == HidDescriptorStatus::Usable;
    // WaitSlice 100 ms, doubled after each refusal, at most 5 s apart: the
    // 11th pause passes 30 s of virtual time.
    const std::vector<int> backOff = {100, 200, 400, 800, 1600, 3200, 5000, 5000, 5000, 5000, 5000};
    const std::vector<int> expectedPauses = readerRuns ? backOff : std::vector<int>{};
    const auto runFor30s = [&] {
        if (readerRuns) EXPECT_TRUE(pumpUntil([&] { return hid.virtualTimeUsedUp(); }));
    };

    broken(*plugTracker("T1.0001"));
    hid.startVirtualTime(30000);
    start();
    runFor30s();
    EXPECT_EQ(tray.calls, kGreen) << "found, even if it can't be read";
    ASSERT_NE(state.PenDevice, nullptr);
    EXPECT_EQ(state.PenDevice->hasReader(), readerRuns);
    EXPECT_EQ(state.PenDevice->readProblem(), row.expected);
    EXPECT_EQ(hid.pauses(), expectedPauses);
    const int attempts = static_cast<int>(backOff.size());
    EXPECT_EQ(hid.openAttempts, !readerRuns ? 0 : row.openError ? attempts : 1);
    EXPECT_EQ(hid.readCalls, row.readError ? attempts : 0);

    // Any device change re-claims it: the new reader backs off from the start,
    // and nothing is said again for the same plug.
    hid.startVirtualTime(30000);
    hid.plug("K", 0x046D, 0xC31C);
    controller->DeviceChange();
    runFor30s();
    EXPECT_EQ(hid.pauses(), expectedPauses);

    // Plugged in again: a new device, told again.
    hid.unplug("T1.0001");
    broken(*plugTracker("T1.0002"));
    controller->DeviceChange();
    EXPECT_TRUE(pumpUntil([&] { return attachmentDiagnostics.lines().size() >= 2; }, std::chrono::seconds(2)));

    const auto lines = attachmentDiagnostics.lines();
    ASSERT_EQ(lines.size(), 2u);
    for (int plug = 0; plug < 2; ++plug) {
        EXPECT_NE(lines[plug].find("/dev/hidraw-T1.000" + std::to_string(plug + 1)), std::string::npos) << lines[plug];
        EXPECT_NE(lines[plug].find(row.cause), std::string::npos) << lines[plug];
        EXPECT_NE(lines[plug].find(row.remedy), std::string::npos) << lines[plug];
    }
    EXPECT_EQ(userNotices.size(), row.notice ? 2u : 0u);
    EXPECT_TRUE(notices.empty()) << "access was granted: no udev-rule notice";
}

using Kind = HidReadProblem::Kind;
constexpr auto kUsable = HidDescriptorStatus::Usable;
// The errors as the Linux backend sorts them.
constexpr HidError kNoFile{HidErrorKind::DeviceGone, ENOENT};
constexpr HidError kIsDirectory{HidErrorKind::Other, EISDIR};
constexpr HidError kNotPermitted{HidErrorKind::NoAccess, EPERM};
constexpr HidError kTooManyFiles{HidErrorKind::Transient, EMFILE};
constexpr HidError kInvalid{HidErrorKind::Other, EINVAL};

INSTANTIATE_TEST_SUITE_P(
    Kinds, ReadFailureTest,
    testing::Values(
        ReadFailureRow{"GarbageDescriptor", HidDescriptorStatus::Malformed, {}, {}, {}, {Kind::DescriptorMalformed, {}},
                       "report descriptor is malformed", "plug it in again", true},
        ReadFailureRow{"NoInputReport", HidDescriptorStatus::NoInputReport, {}, {}, {}, {Kind::NoInputReport, {}},
                       "declares no input report", "plug it in again", true},
        ReadFailureRow{"NoDescriptor", HidDescriptorStatus::Unreadable, kNoFile, {}, {},
                       {Kind::DescriptorUnreadable, kNoFile}, "report descriptor cannot be read (No such file",
                       "plug it in again", true},
        ReadFailureRow{"NodeIsADirectory", kUsable, {}, kIsDirectory, {}, {Kind::OpenFailed, kIsDirectory},
                       "cannot be opened for reading (Is a directory)", "check that /dev/hidraw-T1.000", true},
        ReadFailureRow{"OpenRefusedByPolicy", kUsable, {}, kNotPermitted, {}, {Kind::OpenFailed, kNotPermitted},
                       "(Operation not permitted)", "security policy", true},
        ReadFailureRow{"OutOfFileDescriptors", kUsable, {}, kTooManyFiles, {}, {Kind::OpenFailed, kTooManyFiles},
                       "(Too many open files)", "restart the driver", false},
        ReadFailureRow{"ReadsRefused", kUsable, {}, {}, kInvalid, {Kind::ReadFailed, kInvalid},
                       "reads fail (Invalid argument)", "plug it in again", true}),
    [](const testing::TestParamInfo<ReadFailureRow>& info) { return std::string(info.param.name); });

} // namespace
} // namespace oru::test
