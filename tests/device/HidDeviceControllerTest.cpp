#include "DeviceTestSupport.h"

#include "device/EControllerError.h"

namespace oru::test {
namespace {

using ControllerTest = DeviceTest;

constexpr std::uint16_t kKeyboardVendor = 0x046D;

TEST_F(ControllerTest, SecondControllerIsRefusedAndFirstKeepsWorking)
{
    TestMainThread otherLoop;
    try {
        THidDeviceController second(hid, otherLoop);
        FAIL() << "a second controller was made";
    } catch (const EControllerError& error) {
        EXPECT_STREQ(error.what(), "Only one THidDeviceController allowed per program");
    }
    plugTracker("T1");
    controller->DeviceChange();
    EXPECT_EQ(controller->Count(), 1u);
}

TEST_F(ControllerTest, AControllerCanBeMadeAgainAfterTheFirstIsGone)
{
    controller.reset();
    EXPECT_NO_THROW(controller.emplace(hid, mainThread));
}

TEST_F(ControllerTest, NoDevicesAtStartRaisesNoDeviceChange)
{
    controller->setOnDeviceChange(log.changeHandler());
    loadAndRunFirstRescan();
    EXPECT_EQ(controller->Count(), 0u);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(controller->DeviceNotificationFd(), FakeHidSystem::kMonitorFd);
}

TEST_F(ControllerTest, FirstRescanWaitsForTheEventLoop)
{
    plugTracker("T1");
    controller->setOnDeviceChange(log.changeHandler());
    controller->Loaded();
    EXPECT_EQ(controller->Count(), 0u) << "the first rescan is posted, not run inside Loaded()";
    EXPECT_EQ(mainThread.wakes(), 1);
    controller->runPending();
    EXPECT_EQ(controller->Count(), 1u);
    EXPECT_EQ(log.events, std::vector<std::string>{"change"});
}

TEST_F(ControllerTest, DevicesWithoutPenTrackerAreListedInEnumerationOrder)
{
    hid.plug("K", kKeyboardVendor, 0xC31C);
    hid.plug("M", kKeyboardVendor, 0xC077);
    controller->setOnDeviceChange(log.changeHandler());
    loadAndRunFirstRescan();

    EXPECT_EQ(listedIds(), (std::vector<std::string>{"K", "M"}));
    EXPECT_EQ(log.count("change"), 1);
    THidDevice* device = reinterpret_cast<THidDevice*>(&log);  // must be overwritten with none
    EXPECT_FALSE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    EXPECT_EQ(device, nullptr);
}

TEST_F(ControllerTest, RescanWithoutInterfaceChangeRaisesNothing)
{
    plugTracker("T1");
    controller->setOnDeviceChange(log.changeHandler());
    loadAndRunFirstRescan();
    THidDevice* before = &controller->at(0);
    controller->DeviceChange();
    EXPECT_EQ(log.count("change"), 1);
    EXPECT_EQ(&controller->at(0), before) << "the listed record stays; the fresh duplicate goes";
}

TEST_F(ControllerTest, OnlyAddOrRemoveNotificationsRescan)
{
    loadAndRunFirstRescan();
    plugTracker("T1");
    hid.pendingChange = false;  // e.g. an attribute change
    controller->DeviceNotificationReady();
    EXPECT_EQ(controller->Count(), 0u);
    hid.pendingChange = true;
    controller->DeviceNotificationReady();
    EXPECT_EQ(controller->Count(), 1u);
}

TEST_F(ControllerTest, UnavailableServicesFindNothingAndPostNothing)
{
    hid.isAvailable = false;
    plugTracker("T1");
    controller->setOnDeviceChange(log.changeHandler());
    controller->Loaded();
    EXPECT_EQ(hid.monitorsOpened, 0);
    EXPECT_EQ(controller->DeviceNotificationFd(), -1);
    EXPECT_EQ(mainThread.wakes(), 0);
    controller->DeviceChange();
    EXPECT_EQ(controller->Count(), 0u);
    EXPECT_TRUE(log.events.empty());
}

TEST_F(ControllerTest, UnopenableInterfaceIsSkipped)
{
    hid.plug("gone", kKeyboardVendor, 1, HidAccess::Missing);
    plugTracker("T1");
    controller->DeviceChange();
    EXPECT_EQ(listedIds(), std::vector<std::string>{"T1"});
}

TEST_F(ControllerTest, NewRecordHoldsNoOpenHandle)
{
    plugTracker("T1");
    controller->DeviceChange();
    EXPECT_EQ(hid.openPorts, 0);
    EXPECT_FALSE(controller->at(0).Claimed());
    EXPECT_FALSE(controller->at(0).hasReader());
    EXPECT_TRUE(controller->at(0).ReadWriteAccess());
}

struct ClaimRow {
    std::int32_t vendor;
    std::int32_t product;
    const char* claimed;  // "" for none
};

class ClaimByIdsTest : public DeviceTest, public ::testing::WithParamInterface<ClaimRow> {};

TEST_P(ClaimByIdsTest, ClaimsFirstFreeMatchInListOrder)
{
    hid.plug("A", 0x0020, 0x0001);
    hid.plug("B", 0x0020, 0x0002);
    hid.plug("C", 0x0021, 0x0002);
    hid.plug("D", 0x0020, 0x0002);
    controller->DeviceChange();
    THidDevice* device = nullptr;
    const bool claimed = controller->ClaimByIds(device, GetParam().vendor, GetParam().product);
    EXPECT_EQ(claimed, *GetParam().claimed != '\0');
    EXPECT_EQ(device ? device->InstanceId() : std::string(), GetParam().claimed);
    if (device) EXPECT_TRUE(device->Claimed());
}

INSTANTIATE_TEST_SUITE_P(Rows, ClaimByIdsTest,
                         ::testing::Values(ClaimRow{0x20, 0x02, "B"}, ClaimRow{0x20, -1, "A"},
                                           ClaimRow{0x21, -1, "C"}, ClaimRow{0x22, -1, ""},
                                           ClaimRow{0x20, 0x10002, ""},  // IDs are compared unsigned, all 32 bits
                                           ClaimRow{-1, -1, ""}, ClaimRow{0x20, 0x03, ""}));

TEST_F(ControllerTest, ClaimedRecordIsNeverHandedOutTwice)
{
    plugTracker("T1");
    plugTracker("T2");
    controller->DeviceChange();
    THidDevice* first = nullptr;
    THidDevice* second = nullptr;
    THidDevice* third = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(first, emulated::kVendorId, -1));
    ASSERT_TRUE(controller->ClaimByIds(second, emulated::kVendorId, emulated::kProductId));
    EXPECT_FALSE(controller->ClaimByIds(third, emulated::kVendorId, -1));
    EXPECT_EQ(first->InstanceId(), "T1");
    EXPECT_EQ(second->InstanceId(), "T2");
    EXPECT_EQ(third, nullptr);
}

TEST_F(ControllerTest, ReleaseOfNoneDoesNothing)
{
    plugTracker("T1");
    controller->DeviceChange();
    THidDevice* none = nullptr;
    controller->ReleaseDevice(none);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(controller->Count(), 1u);
}

TEST_F(ControllerTest, ReleasedPresentRecordIsFreeAgainAndKeepsItsHandler)
{
    plugTracker("T1");
    controller->DeviceChange();
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    THidDevice* const record = device;
    device->setOnReport(log.reportHandler());
    EXPECT_TRUE(record->hasReader());
    controller->ReleaseDevice(device);
    EXPECT_EQ(device, nullptr);
    EXPECT_FALSE(record->Claimed());
    EXPECT_FALSE(record->hasReader());
    EXPECT_TRUE(record->OnReport() == log.reportHandler());

    ASSERT_TRUE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    EXPECT_EQ(device, record);
    EXPECT_TRUE(device->hasReader()) << "a claim of a record with OnReport starts its reader at once";
}

TEST_F(ControllerTest, UnplugWhileClaimedKeepsGoneRecordUntilReleased)
{
    plugTracker("T1");
    hid.plug("K", kKeyboardVendor, 1);
    controller->setOnDeviceChange(log.changeHandler());
    loadAndRunFirstRescan();
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    device->setOnUnplugged(log.unplugHandler());

    hid.unplug("T1");
    controller->DeviceChange();
    controller->DeviceChange();  // still held: reported gone again, unplug handler already cleared

    EXPECT_EQ(log.events, (std::vector<std::string>{"change", "unplugged T1", "change", "change"}));
    EXPECT_FALSE(device->Present());
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"T1", "K"}));
    // Listed again under the same name while the gone record is still held:
    // a new arrival, not a duplicate of the gone one.
    plugTracker("T1");
    controller->DeviceChange();
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"T1", "K", "T1"}));
    hid.unplug("T1");

    controller->ReleaseDevice(device);
    controller->DeviceChange();
    EXPECT_EQ(listedIds(), std::vector<std::string>{"K"});
    controller->DeviceChange();
    EXPECT_EQ(log.count("change"), 5) << "nothing left to report";
}

TEST_F(ControllerTest, ReplugAppendsTheTrackerAtTheEnd)
{
    plugTracker("T1.0001");
    hid.plug("K", kKeyboardVendor, 1);
    controller->DeviceChange();
    hid.unplug("T1.0001");
    plugTracker("T1.0002");  // the kernel numbers every plug anew
    controller->DeviceChange();
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"K", "T1.0002"}));
}

TEST_F(ControllerTest, TwoTrackersFirstInListOrderAndAfterReplugTheOther)
{
    plugTracker("T1");
    plugTracker("T2");
    controller->DeviceChange();
    THidDevice* pen = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(pen, emulated::kVendorId, emulated::kProductId));
    EXPECT_EQ(pen->InstanceId(), "T1");

    hid.unplug("T1");
    plugTracker("T1b");
    controller->DeviceChange();
    controller->ReleaseDevice(pen);
    ASSERT_TRUE(controller->ClaimByIds(pen, emulated::kVendorId, emulated::kProductId));
    EXPECT_EQ(pen->InstanceId(), "T2");
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"T2", "T1b"}));
}

TEST_F(ControllerTest, PlugHandlersRunWithInPlugCallback)
{
    controller->setOnArrival(THidPlugEvent::bind<&EventLog::arrival>(log));
    controller->setOnRemoval(THidPlugEvent::bind<&EventLog::removal>(log));
    plugTracker("T1");
    controller->DeviceChange();
    EXPECT_FALSE(controller->at(0).InPlugCallback());
    hid.unplug("T1");
    controller->DeviceChange();
    EXPECT_EQ(log.events, (std::vector<std::string>{"arrival T1 in-callback", "removal T1 in-callback"}));
}

TEST_F(ControllerTest, FailedListCountsListedDevicesGoneUntilTheNextGoodList)
{
    plugTracker("T1");
    controller->setOnDeviceChange(log.changeHandler());
    loadAndRunFirstRescan();
    THidDevice* first = &controller->at(0);
    hid.listFails = true;
    controller->DeviceChange();
    EXPECT_EQ(controller->Count(), 0u);
    hid.listFails = false;
    controller->DeviceChange();
    ASSERT_EQ(controller->Count(), 1u);
    EXPECT_EQ(log.count("change"), 3);
    (void)first;  // destroyed by the failed list; the device came back as a new record
}

TEST_F(ControllerTest, OnDeviceChangeWithNewFunctionAfterLoadingRescansAtOnce)
{
    plugTracker("T1");
    controller->Loaded();
    controller->setOnDeviceChange(log.changeHandler());
    EXPECT_EQ(log.events, std::vector<std::string>{"change"});

    EventLog otherReceiver;
    controller->setOnDeviceChange(otherReceiver.changeHandler());  // same function: nothing
    controller->setOnDeviceChange(log.changeHandler());
    EXPECT_TRUE(controller->OnDeviceChange() == log.changeHandler());
    hid.unplug("T1");
    controller->setOnDeviceChange(TNotifyEvent::bind<&EventLog::otherDeviceChange>(log));
    EXPECT_EQ(log.events, (std::vector<std::string>{"change", "other change"}));
}

TEST_F(ControllerTest, RescanAskedForInsideAHandlerRunsAfterTheRunningOne)
{
    struct Nested {
        THidDeviceController* controller;
        FakeHidSystem* hid;
        int calls = 0;
        void change(THidDeviceController&)
        {
            if (++calls == 1) {
                hid->plug("K", kKeyboardVendor, 1);
                controller->DeviceChange();
                EXPECT_EQ(controller->Count(), 1u) << "no rescan inside a rescan";
            }
        }
    } nested{&*controller, &hid};
    plugTracker("T1");
    controller->Loaded();
    controller->setOnDeviceChange(TNotifyEvent::bind<&Nested::change>(nested));
    EXPECT_EQ(nested.calls, 2);
    EXPECT_EQ(controller->Count(), 2u);
}

class WaitSliceTest : public DeviceTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(WaitSliceTest, AcceptsOnly10To10000Ms)
{
    plugTracker("T1");
    controller->DeviceChange();
    controller->at(0).setWaitSlice(GetParam().first);
    EXPECT_EQ(controller->at(0).WaitSlice(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Rows, WaitSliceTest,
                         ::testing::Values(std::pair{5, 100}, std::pair{9, 100}, std::pair{10, 10},
                                           std::pair{250, 250}, std::pair{10000, 10000},
                                           std::pair{10001, 100}, std::pair{20000, 100}, std::pair{-1, 100}));

TEST_F(ControllerTest, DevThreadSleepTimeReachesRecordsStillOnTheOldValue)
{
    plugTracker("A");
    plugTracker("B");
    controller->DeviceChange();
    controller->at(1).setWaitSlice(50);
    controller->setDevThreadSleepTime(200);
    EXPECT_EQ(controller->at(0).WaitSlice(), 200);
    EXPECT_EQ(controller->at(1).WaitSlice(), 50);
    controller->setDevThreadSleepTime(5);  // out of the records' range: they keep 200
    EXPECT_EQ(controller->DevThreadSleepTime(), 5);
    EXPECT_EQ(controller->at(0).WaitSlice(), 200);
}

TEST_F(ControllerTest, DataAndUnplugHandlersReachRecordsStillOnTheOldFunction)
{
    plugTracker("A");
    plugTracker("B");
    controller->DeviceChange();
    controller->at(1).setOnReport(THidDataEvent::bind<&EventLog::otherReport>(log));
    controller->setOnDeviceData(log.reportHandler());
    controller->setOnDeviceUnplug(log.unplugHandler());
    EXPECT_TRUE(controller->at(0).OnReport() == log.reportHandler());
    EXPECT_TRUE(controller->at(1).OnReport().sameFunction(THidDataEvent::bind<&EventLog::otherReport>(log)));
    EXPECT_TRUE(controller->at(0).OnUnplugged() == log.unplugHandler());

    plugTracker("C");
    controller->DeviceChange();
    EXPECT_TRUE(controller->at(2).OnReport() == log.reportHandler()) << "new records take the controller's handlers";
    EXPECT_FALSE(controller->at(2).OnReportError());
}

TEST_F(ControllerTest, TrackerWithoutReadAccessIsClaimableButGetsNoReader)
{
    plugTracker("T1", HidAccess::QueryOnly);
    controller->DeviceChange();
    ASSERT_EQ(controller->Count(), 1u);
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    device->setOnReport(log.reportHandler());
    EXPECT_FALSE(device->ReadWriteAccess());
    EXPECT_EQ(device->accessError(), EACCES);
    EXPECT_FALSE(device->hasReader());
}

TEST_F(ControllerTest, ClaimLooksAgainAtAccessGrantedMeanwhile)
{
    plugTracker("T1", HidAccess::QueryOnly);
    controller->DeviceChange();
    hid.change("T1", [](auto& device) { device.access = HidAccess::ReadWrite; });  // rule installed, triggered
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    device->setOnReport(log.reportHandler());
    EXPECT_TRUE(device->ReadWriteAccess());
    EXPECT_TRUE(device->hasReader());
}

TEST_F(ControllerTest, AccessGrantedAfterTheListingIsADeviceChange)
{
    // Unplugged and plugged straight back: the rescan for the removal lists the
    // new node before udevd has handed it to the user.
    plugTracker("T1", HidAccess::QueryOnly);
    controller->setOnDeviceChange(log.changeHandler());
    loadAndRunFirstRescan();
    EXPECT_EQ(log.count("change"), 1);
    controller->DeviceChange();
    EXPECT_EQ(log.count("change"), 1) << "still no access: nothing changed";

    hid.change("T1", [](auto& device) { device.access = HidAccess::ReadWrite; });  // udevd's uaccess
    controller->DeviceChange();  // the node's own "add" event
    EXPECT_EQ(log.count("change"), 2);
    EXPECT_TRUE(controller->at(0).ReadWriteAccess());
    controller->DeviceChange();
    EXPECT_EQ(log.count("change"), 2);
}

TEST_F(ControllerTest, DestructionUnplugsClaimedRecordsAndDropsQueuedReports)
{
    plugTracker("T1");
    controller->DeviceChange();
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->ClaimByIds(device, emulated::kVendorId, emulated::kProductId));
    device->setOnUnplugged(log.unplugHandler());
    device->setOnReport(log.reportHandler());
    pushTrackerReport("T1", emulated::makeReport(1, 100, 200));
    ASSERT_TRUE(mainThread.pumpUntil([] {}, [&] { return controller->handoff().hasPending(); }));

    controller.reset();  // the reader is blocked in its hand-off: must not hang
    EXPECT_EQ(log.events, std::vector<std::string>{"unplugged T1"});
    EXPECT_TRUE(log.reports.empty());
}

} // namespace
} // namespace oru::test
