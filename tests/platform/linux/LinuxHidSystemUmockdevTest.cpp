// The real hidraw backend against umockdev's emulated sysfs, udev and device
// nodes. Must run with libumockdev-preload (umockdev-wrapper, or
// LD_PRELOAD=libumockdev-preload.so.0): the preload redirects /sys, /dev and
// the udev netlink socket into the test bed.

#include <umockdev.h>  // before any other header that might pull in Qt

#include "device/HidDeviceController.h"
#include "fakes/EmulatedPenTracker.h"
#include "fakes/TestMainThread.h"
#include "platform/linux/LinuxHidSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <csignal>
#include <fstream>
#include <sstream>
#include <vector>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// AddressSanitizer insists on being the first library loaded, which the
// preload makes impossible; this is read only by ASan builds.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace oru::test {
namespace {

using namespace std::chrono_literals;

// A boot keyboard on another port, to plug and unplug beside the tracker.
const char* const kKeyboardDescription =
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:046D:C31C.0002/hidraw/hidraw1\n"
    "N: hidraw1\n"
    "E: DEVNAME=/dev/hidraw1\n"
    "E: SUBSYSTEM=hidraw\n"
    "A: dev=240:1\n"
    "\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:046D:C31C.0002\n"
    "E: SUBSYSTEM=hid\n"
    "E: HID_ID=0003:0000046D:0000C31C\n"
    "H: report_descriptor=05010906A101050719E029E71500250175019508810295017508810195057501050819012905910295017503"
    "910195067508150025650507190029658100C0\n";
const char* const kKeyboardHidraw =
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:046D:C31C.0002/hidraw/hidraw1";
const char* const kKeyboardHid = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:046D:C31C.0002";

// A vendor device with numbered reports: ID 1 two bytes, ID 2 twenty bytes.
const char* const kNumberedDescription =
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/0003:1234:5678.0003/hidraw/hidraw2\n"
    "N: hidraw2\n"
    "E: DEVNAME=/dev/hidraw2\n"
    "E: SUBSYSTEM=hidraw\n"
    "A: dev=240:2\n"
    "\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/0003:1234:5678.0003\n"
    "E: SUBSYSTEM=hid\n"
    "E: HID_ID=0003:00001234:00005678\n"
    "H: report_descriptor=0600FF0901A10185017508950209018102850275089514090281028503954009039102C0\n";

/// The real backend, counting the reader's opens so the test writes a report
/// only once the node is open (umockdev drops what is written before).
class ObservedHidSystem final : public HidSystem {
public:
    LinuxHidSystem real;
    std::atomic<int> readPortOpens{0};
    std::atomic<int> readPortOpenAttempts{0};

    bool available() const override { return real.available(); }
    std::vector<HidInterfaceInfo> listInterfaces() override { return real.listInterfaces(); }
    HidAccess probeAccess(const std::string& path, int& errorCode) override
    {
        return real.probeAccess(path, errorCode);
    }
    std::uint16_t inputReportLength(const std::string& path) override { return real.inputReportLength(path); }
    HidInputReportInfo inputReportInfo(const std::string& path) override { return real.inputReportInfo(path); }
    std::unique_ptr<HidDeviceMonitor> openMonitor() override { return real.openMonitor(); }
    std::unique_ptr<HidReadPort> makeReadPort() override
    {
        return std::make_unique<CountingPort>(real.makeReadPort(), readPortOpens, readPortOpenAttempts);
    }

private:
    class CountingPort final : public HidReadPort {
    public:
        CountingPort(std::unique_ptr<HidReadPort> port, std::atomic<int>& opens, std::atomic<int>& attempts)
            : port_(std::move(port)), opens_(opens), attempts_(attempts)
        {
        }
        bool open(const std::string& path, HidError& error) override
        {
            ++attempts_;
            const bool opened = port_->open(path, error);
            if (opened) ++opens_;
            return opened;
        }
        void close() override { port_->close(); }
        bool isOpen() const override { return port_->isOpen(); }
        HidReadResult read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
        {
            return port_->read(buffer, length, timeoutMs);
        }
        void pause(int timeoutMs) override { port_->pause(timeoutMs); }
        HidError goneError() const override { return port_->goneError(); }
        void wake() override { port_->wake(); }

    private:
        std::unique_ptr<HidReadPort> port_;
        std::atomic<int>& opens_;
        std::atomic<int>& attempts_;
    };
};

class UmockdevHidTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* preload = std::getenv("LD_PRELOAD");
        ASSERT_TRUE(preload && std::strstr(preload, "libumockdev-preload"))
            << "run this test under umockdev-wrapper or with LD_PRELOAD=libumockdev-preload.so.0";
        testbed = umockdev_testbed_new();
        add(emulated::umockdevDescription());
    }
    void TearDown() override
    {
        if (testbed) g_object_unref(testbed);
    }

    void add(const std::string& description)
    {
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, description.c_str(), &error))
            << (error ? error->message : "?");
    }

    void remove(const std::string& hidrawSysfs, const std::string& hidSysfs)
    {
        umockdev_testbed_uevent(testbed, hidrawSysfs.c_str(), "remove");
        umockdev_testbed_remove_device(testbed, hidrawSysfs.c_str());
        umockdev_testbed_remove_device(testbed, hidSysfs.c_str());
    }

    /// Writes one report to the other end of the tracker's node.
    void writeReport(const emulated::Report& report, const char* node = "/dev/hidraw0")
    {
        const int fd = umockdev_testbed_get_dev_fd(testbed, node);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, report.data(), report.size()), static_cast<ssize_t>(report.size()));
    }

    static bool readable(int fd, std::chrono::milliseconds timeout)
    {
        pollfd pfd{fd, POLLIN, 0};
        return ::poll(&pfd, 1, static_cast<int>(timeout.count())) == 1;
    }

    UMockdevTestbed* testbed = nullptr;
};

TEST_F(UmockdevHidTest, ListsTheEmulatedTrackerWithItsIdsAndReportLength)
{
    LinuxHidSystem hid;
    ASSERT_TRUE(hid.available());
    const auto list = hid.listInterfaces();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, "/dev/hidraw0");
    EXPECT_EQ(list[0].identity, emulated::identity());
    EXPECT_EQ(list[0].vendorId, emulated::kVendorId);
    EXPECT_EQ(list[0].productId, emulated::kProductId);
    EXPECT_EQ(list[0].version, emulated::kVersion);
    EXPECT_EQ(hid.inputReportLength("/dev/hidraw0"), emulated::kInputReportLength);
    int error = -1;
    EXPECT_EQ(hid.probeAccess("/dev/hidraw0", error), HidAccess::ReadWrite);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(hid.probeAccess("/dev/hidraw9", error), HidAccess::Missing);
    EXPECT_EQ(error, ENOENT);
}

// The driver decides on these kinds alone: a wrong sort shows a vanished node
// as a problem, retries what needs a person, or gives the wrong advice.
TEST(LinuxHidErrors, ErrnoValuesSortIntoTheDriversKinds)
{
    const std::pair<int, HidErrorKind> rows[] = {
        {0, HidErrorKind::None},           {ENOENT, HidErrorKind::DeviceGone}, {ENODEV, HidErrorKind::DeviceGone},
        {ENXIO, HidErrorKind::DeviceGone}, {EACCES, HidErrorKind::NoAccess},   {EPERM, HidErrorKind::NoAccess},
        {EMFILE, HidErrorKind::Transient}, {ENFILE, HidErrorKind::Transient},  {ENOMEM, HidErrorKind::Transient},
        {EAGAIN, HidErrorKind::Transient}, {EINTR, HidErrorKind::Transient},   {EISDIR, HidErrorKind::Other},
        {EIO, HidErrorKind::Other},        {EBUSY, HidErrorKind::Other},       {EINVAL, HidErrorKind::Other},
    };
    for (const auto& [errorNumber, kind] : rows) {
        const HidError error = hidErrorFromErrno(errorNumber);
        EXPECT_EQ(error.kind, kind) << std::strerror(errorNumber);
        EXPECT_EQ(error.code, errorNumber);
    }
}

TEST_F(UmockdevHidTest, ReadPortPutsReportIdZeroInFrontAndKeepsNumberedReportsAsTheyAre)
{
    add(kNumberedDescription);
    LinuxHidSystem hid;
    EXPECT_EQ(hid.inputReportLength("/dev/hidraw2"), 21);

    auto port = hid.makeReadPort();
    HidError error;
    ASSERT_TRUE(port->open("/dev/hidraw0", error)) << std::strerror(error.code);
    EXPECT_FALSE(port->reportWaiting());
    writeReport(emulated::makeReport(1, 300, 400, 0x99));
    // What the release watchdog asks from the main thread: a report waits unread.
    ASSERT_EQ(port->waitForReport(1000).status, HidReadStatus::Report);
    EXPECT_TRUE(port->reportWaiting());
    std::uint8_t buffer[emulated::kInputReportLength] = {0xEE};
    auto result = port->read(buffer, sizeof buffer, 1000);
    ASSERT_EQ(result.status, HidReadStatus::Report);
    EXPECT_EQ(result.bytes, emulated::kInputReportLength);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[5], 0x99);
    EXPECT_FALSE(port->reportWaiting());

    auto numbered = hid.makeReadPort();
    ASSERT_TRUE(numbered->open("/dev/hidraw2", error));
    const std::uint8_t report[] = {0x01, 0xAB, 0xCD};
    const int fd = umockdev_testbed_get_dev_fd(testbed, "/dev/hidraw2");
    ASSERT_EQ(::write(fd, report, sizeof report), 3);
    std::uint8_t numberedBuffer[3] = {};  // one ID-1 report: the node is a byte stream under umockdev
    result = numbered->read(numberedBuffer, sizeof numberedBuffer, 1000);
    ASSERT_EQ(result.status, HidReadStatus::Report);
    EXPECT_EQ(result.bytes, 3u);
    EXPECT_EQ(numberedBuffer[0], 0x01);
    EXPECT_EQ(numberedBuffer[2], 0xCD);
}

TEST_F(UmockdevHidTest, ReadPortWaitIsInterruptedByWakeAndTheHangUpIsGone)
{
    LinuxHidSystem hid;
    auto port = hid.makeReadPort();
    HidError error;
    ASSERT_TRUE(port->open("/dev/hidraw0", error));
    std::uint8_t buffer[emulated::kInputReportLength];
    EXPECT_EQ(port->read(buffer, sizeof buffer, 10).status, HidReadStatus::TimedOut);

    port->wake();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(port->read(buffer, sizeof buffer, 10000).status, HidReadStatus::Woken);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);

    ::close(umockdev_testbed_get_dev_fd(testbed, "/dev/hidraw0"));  // the device end goes away
    EXPECT_EQ(port->read(buffer, sizeof buffer, 1000).status, HidReadStatus::Gone);
    EXPECT_FALSE(port->isOpen());
}

class UmockdevControllerTest : public UmockdevHidTest {
protected:
    struct Log {
        int changes = 0;
        std::vector<emulated::Report> reports;
        std::vector<std::uint8_t> reportIds;
        THidDevice* held = nullptr;
        bool followChanges = false;  // release and re-claim like the main window
        void change(THidDeviceController& controller)
        {
            ++changes;
            if (!followChanges) return;
            controller.ReleaseDevice(held);
            if (controller.ClaimByIds(held, emulated::kVendorId, emulated::kProductId)) {
                held->setOnReport(THidDataEvent::bind<&Log::report>(*this));
            }
        }
        void report(THidDevice&, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size)
        {
            emulated::Report report{};
            std::copy(data, data + std::min<std::size_t>(size, report.size()), report.begin());
            reports.push_back(report);
            reportIds.push_back(reportId);
        }
    };

    void SetUp() override
    {
        UmockdevHidTest::SetUp();
        if (HasFatalFailure()) return;
        hid.emplace();
        controller.emplace(*hid, mainThread);
        controller->setOnDeviceChange(TNotifyEvent::bind<&Log::change>(log));
        controller->Loaded();
        controller->runPending();
    }
    void TearDown() override
    {
        if (controller) controller->ReleaseDevice(log.held);
        controller.reset();
        hid.reset();
        UmockdevHidTest::TearDown();
    }

    /// Waits for the monitor and hands its events to the controller.
    bool deliverDeviceNotifications()
    {
        if (!readable(controller->DeviceNotificationFd(), 2s)) return false;
        controller->DeviceNotificationReady();
        return true;
    }

    template <typename Done>
    bool pumpUntil(Done done, std::chrono::milliseconds timeout = 5s)
    {
        return mainThread.pumpUntil([&] { controller->runPending(); }, done, timeout);
    }

    TestMainThread mainThread;
    std::optional<ObservedHidSystem> hid;
    std::optional<THidDeviceController> controller;
    Log log;
};

TEST_F(UmockdevControllerTest, ReportsWrittenToTheNodeReachTheHandlerInOrder)
{
    ASSERT_EQ(controller->Count(), 1u);
    EXPECT_EQ(log.changes, 1);
    ASSERT_TRUE(controller->ClaimByIds(log.held, emulated::kVendorId, emulated::kProductId));
    log.held->setOnReport(THidDataEvent::bind<&Log::report>(log));
    ASSERT_TRUE(pumpUntil([&] { return hid->readPortOpens == 1; }));

    constexpr int kReports = 300;
    for (int i = 0; i < kReports; ++i) writeReport(emulated::makeReport(i % 3, i, 2 * i, static_cast<std::uint8_t>(i)));
    ASSERT_TRUE(pumpUntil([&] { return log.reports.size() == kReports; }));
    for (int i = 0; i < kReports; ++i) {
        ASSERT_EQ(log.reports[i], emulated::makeReport(i % 3, i, 2 * i, static_cast<std::uint8_t>(i))) << i;
        ASSERT_EQ(log.reportIds[i], 0);
    }
}

TEST_F(UmockdevControllerTest, AnAddAndARemoveUeventEachCauseOneRescan)
{
    ASSERT_EQ(log.changes, 1);
    add(kKeyboardDescription);  // umockdev announces it with an "add" uevent
    ASSERT_TRUE(deliverDeviceNotifications());
    EXPECT_EQ(log.changes, 2);
    EXPECT_EQ(controller->Count(), 2u);

    remove(kKeyboardHidraw, kKeyboardHid);
    ASSERT_TRUE(deliverDeviceNotifications());
    EXPECT_EQ(log.changes, 3);
    EXPECT_EQ(controller->Count(), 1u);

    umockdev_testbed_uevent(testbed, emulated::hidrawSysfsPath().c_str(), "change");
    ASSERT_TRUE(deliverDeviceNotifications());
    EXPECT_EQ(log.changes, 3) << "a change event is no add or remove";
}

TEST_F(UmockdevControllerTest, AnUnplugDuringAReadEndsTheReaderCleanly)
{
    log.followChanges = true;
    controller->DeviceChange();  // nothing changed: no handler call
    log.change(*controller);     // claim as the main window would
    ASSERT_NE(log.held, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return hid->readPortOpens == 1; }));
    writeReport(emulated::makeReport(1, 10, 20));
    ASSERT_TRUE(pumpUntil([&] { return log.reports.size() == 1; }));

    remove(emulated::hidrawSysfsPath(), emulated::hidSysfsPath());
    umockdev_testbed_remove_device(testbed, emulated::usbSysfsPath().c_str());
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(deliverDeviceNotifications());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_EQ(log.held, nullptr) << "the re-claim found no tracker";
    EXPECT_EQ(controller->Count(), 0u) << "the gone record was destroyed by the release";

    // Plugged in again: a new record, read again. (umockdev can't bring back
    // a node name it has served, so it comes back as hidraw1.)
    add(emulated::umockdevDescription(1, 1, 2));
    ASSERT_TRUE(deliverDeviceNotifications());
    ASSERT_NE(log.held, nullptr);
    EXPECT_EQ(log.held->InstanceId(), emulated::identity(2));
    ASSERT_TRUE(pumpUntil([&] { return hid->readPortOpens == 2; }));
    writeReport(emulated::makeReport(2, 30, 40), "/dev/hidraw1");
    EXPECT_TRUE(pumpUntil([&] { return log.reports.size() == 2; }));
}

// Trackers that list and pass the access check but can't be read, each on a
// node of its own: the real backend's reason reaches the record's
// OnReadProblem once, however often the reader retries meanwhile.
TEST_F(UmockdevControllerTest, TrackersThatCantBeReadSayWhyOnce)
{
    using Kind = HidReadProblem::Kind;
    const std::string descriptorLine = "H: report_descriptor=" + std::string(emulated::kReportDescriptorHex) + "\n";
    struct Row {
        int node;
        const char* descriptorHex;  // nullptr: no report_descriptor at all
        bool nodeIsDirectory;
        HidReadProblem expected;
    };
    const Row rows[] = {
        {5, "DEADBEEF", false, {Kind::DescriptorMalformed, {}}},
        // One vendor collection with a 5-byte feature report and no input report.
        {6, "0600FF0901A101750895050901B102C0", false, {Kind::NoInputReport, {}}},
        {7, nullptr, false, {Kind::DescriptorUnreadable, {HidErrorKind::DeviceGone, ENOENT}}},
        {8, emulated::kReportDescriptorHex.data(), true, {Kind::OpenFailed, {HidErrorKind::Other, EISDIR}}},
    };
    gchar* rootDir = umockdev_testbed_get_root_dir(testbed);
    const std::string root = rootDir;
    g_free(rootDir);
    for (const Row& row : rows) {
        std::string description = emulated::umockdevDescription(row.node, row.node, row.node);
        description.replace(description.find(descriptorLine), descriptorLine.size(),
                            row.descriptorHex ? "H: report_descriptor=" + std::string(row.descriptorHex) + "\n" : "");
        if (row.nodeIsDirectory) {
            // No device node from umockdev; a directory stands where it would be.
            const std::string nodeLine = "N: hidraw" + std::to_string(row.node) + "\n";
            description.erase(description.find(nodeLine), nodeLine.size());
        }
        add(description);
        if (row.nodeIsDirectory) {
            ASSERT_EQ(::mkdir((root + "/dev/hidraw" + std::to_string(row.node)).c_str(), 0755), 0) << std::strerror(errno);
        }
    }
    controller->DeviceChange();

    struct Problems {
        const HidSystem& system;
        std::vector<std::string> seen;  // "path: problem"
        void note(THidDevice& device, const HidReadProblem& problem)
        {
            seen.push_back(device.InterfacePath() + ": " + describeReadProblem(problem, system));
        }
    } problems{controller->system(), {}};
    std::vector<THidDevice*> held;
    for (std::size_t i = 0; i < controller->Count(); ++i) {
        if (controller->at(i).InterfacePath() == "/dev/hidraw0") continue;  // the working tracker
        THidDevice* device = nullptr;
        ASSERT_TRUE(controller->ClaimAt(device, i, true));
        ASSERT_TRUE(device->ReadWriteAccess()) << device->InterfacePath();
        device->setOnReadProblem(THidReadProblemEvent::bind<&Problems::note>(problems));
        device->setOnReport(THidDataEvent::bind<&Log::report>(log));
        held.push_back(device);
    }
    ASSERT_EQ(held.size(), std::size(rows));
    // Until the directory's reader has tried three times (0, 100, 300 ms).
    EXPECT_TRUE(pumpUntil([&] { return problems.seen.size() >= std::size(rows) && hid->readPortOpenAttempts >= 3; }));

    std::vector<std::string> expected;
    for (const Row& row : rows) {
        expected.push_back("/dev/hidraw" + std::to_string(row.node) + ": " + describeReadProblem(row.expected, controller->system()));
    }
    std::sort(problems.seen.begin(), problems.seen.end());
    EXPECT_EQ(problems.seen, expected);
    for (THidDevice*& device : held) controller->ReleaseDevice(device);
}

/// umockdev's script notation for the bytes the device sends: bytes below
/// 32 as '^' + (b + 64), '^' itself as "^`", everything else verbatim.
std::string scriptData(const emulated::Report& report)
{
    std::string text;
    for (const std::uint8_t byte : report) {
        if (byte == '^') {
            text += "^`";
        } else if (byte < 32) {
            text += '^';
            text += static_cast<char>(byte + 64);
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}

TEST_F(UmockdevHidTest, OruRecordPrintsTheTrackersReportsUntilInterrupted)
{
    // The device sends three reports, 100 ms after the node is opened and then
    // 50 ms apart; bytes chosen to cross the script's escapes.
    const emulated::Report reports[] = {emulated::makeReport(1, 1000, 700, 0xAB), emulated::makeReport(0, 0, 0),
                                        {0x5E, 0x20, 0x0A, 0xFF, 0x80}};
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::string scriptPath = std::string(root) + "/reports.script";
    g_free(root);
    {
        std::ofstream script(scriptPath, std::ios::binary);
        script << "r 100 " << scriptData(reports[0]) << "\n"
               << "r 50 " << scriptData(reports[1]) << "\n"
               << "r 50 " << scriptData(reports[2]) << "\n";
    }
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_load_script(testbed, "/dev/hidraw0", scriptPath.c_str(), &error))
        << (error ? error->message : "?");

    // The child inherits the preload and the test bed (UMOCKDEV_DIR); in an
    // ASan build it needs the same leave to run behind the preload.
    ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 0);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char program[] = ORU_RECORD_PATH;
    char* argv[] = {program, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, program, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    const auto reportLines = [&] { return std::count(output.begin(), output.end(), '\n') - 1; };
    while (reportLines() < 3 && std::chrono::steady_clock::now() < deadline) {
        if (!readable(out[0], 100ms)) continue;
        char chunk[512];
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0) break;
        output.append(chunk, static_cast<std::size_t>(n));
    }
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << output;
    EXPECT_NE(lines[0].find("# oru-record "), std::string::npos);
    EXPECT_NE(lines[0].find("pen tracker /dev/hidraw0 (0003:0020:0002.0001, vendor 0020, product 0002, version 0100)"),
              std::string::npos)
        << lines[0];
    const char* const expectedBytes[] = {" 43 02 EB BE AB", " 00 00 00 00 00", " 5E 20 0A FF 80"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i + 1].rfind("report ", 0), 0u) << lines[i + 1];
        EXPECT_EQ(lines[i + 1].substr(lines[i + 1].size() - 15), expectedBytes[i]) << lines[i + 1];
    }
}

} // namespace
} // namespace oru::test
