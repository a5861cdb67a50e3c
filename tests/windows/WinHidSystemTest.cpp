// The Windows HID backend against the stand-in hid.dll and setupapi.dll
// (tests/windows/hid-standin), whose emulated devices oru-pen-standin.exe
// serves: listing, attributes, report lengths, overlapped reads of whole
// reports, wake-ups, unplug and re-plug, and the controller's per-report path.

#include "platform/windows/WinHidSystem.h"

#include "platform/windows/WideText.h"

#include "device/HidDeviceController.h"
#include "fakes/CountingAllocator.h"
#include "fakes/TestMainThread.h"
#include "hid-standin/StandinControl.h"

#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace oru::test {
namespace {

using standin::StandinControl;
using Clock = std::chrono::steady_clock;

constexpr char kPenIds[] = "0020 0002 0100 6";
constexpr char kForeignIds[] = "046d c077 0111 5";  // a mouse: IDs only, never read here

// A stand-in world of this test's own: parallel tests don't share devices
// (wine reuses process ids, hence the time).
std::wstring worldName(const char* test)
{
    return L"oru-hid-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64()) +
           L"-" + std::wstring(test, test + std::strlen(test));
}

std::string pathOfPlug(const std::string& reply)
{
    const std::string prefix = "ok plugged ";
    return reply.rfind(prefix, 0) == 0 ? reply.substr(prefix.size()) : std::string();
}

const HidInterfaceInfo* findPath(const std::vector<HidInterfaceInfo>& list, const std::string& path)
{
    const auto it = std::find_if(list.begin(), list.end(), [&](const HidInterfaceInfo& i) { return i.path == path; });
    return it == list.end() ? nullptr : &*it;
}

// A hidden top-level window, which gets the device-change broadcasts.
class BroadcastWindow {
public:
    BroadcastWindow()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (message == WM_DEVICECHANGE && wParam == DBT_DEVNODES_CHANGED) ++changes;
            return ::DefWindowProcW(window, message, wParam, lParam);
        };
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"OruHidTestBroadcasts";
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                    windowClass.hInstance, nullptr);
    }
    ~BroadcastWindow() { ::DestroyWindow(window_); }

    /// Dispatches messages until `count` device changes arrived (bounded).
    bool waitForChanges(int count)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (changes < count && Clock::now() < deadline) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        }
        return changes >= count;
    }

    static inline int changes = 0;

private:
    HWND window_ = nullptr;
};

TEST(WinHidSystem, ListsEmulatedDevicesWithAttributesAndReportLengths)
{
    StandinControl standin(worldName("list"));
    struct Row {
        const char* slotAndIds;
        std::uint16_t vendorId, productId, version, reportLength;
    };
    const Row rows[] = {
        {"1 0020 0002 0100 6", 0x0020, 0x0002, 0x0100, 6},
        {"2 046d c077 0111 5", 0x046D, 0xC077, 0x0111, 5},
        {"3 0020 0002 0200 65", 0x0020, 0x0002, 0x0200, 65},
    };
    std::vector<std::string> paths;
    for (const Row& row : rows) {
        paths.push_back(pathOfPlug(standin.command(std::string("plug ") + row.slotAndIds)));
        ASSERT_FALSE(paths.back().empty());
    }

    WinHidSystem system;
    ASSERT_TRUE(system.available());
    const std::vector<HidInterfaceInfo> list = system.listInterfaces();
    ASSERT_EQ(list.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].slotAndIds);
        const HidInterfaceInfo* info = findPath(list, paths[i]);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->vendorId, rows[i].vendorId);
        EXPECT_EQ(info->productId, rows[i].productId);
        EXPECT_EQ(info->version, rows[i].version);
        // The capabilities' length counts the report-ID byte, as the core does.
        EXPECT_EQ(system.inputReportLength(info->path), rows[i].reportLength);
        int error = -1;
        EXPECT_EQ(system.probeAccess(info->path, error), HidAccess::ReadWrite);
        EXPECT_EQ(error, 0);
        // Identities differ between devices, also those with the same IDs.
        EXPECT_EQ(std::count_if(list.begin(), list.end(), [&](auto& o) { return o.identity == info->identity; }), 1);
    }
    int error = 0;
    EXPECT_EQ(system.probeAccess("\\\\.\\pipe\\oru-hid-test-nothing-here", error), HidAccess::Missing);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(hidErrorFromWindows(static_cast<unsigned long>(error)).kind, HidErrorKind::DeviceGone);
    EXPECT_EQ(system.errorText(error), windowsErrorText(ERROR_FILE_NOT_FOUND));
}

TEST(WinHidSystem, ReadsOneWholeReportPerReadAndWakesPromptly)
{
    StandinControl standin(worldName("read"));
    const std::string path = pathOfPlug(standin.command(std::string("plug 1 ") + kPenIds));
    WinHidSystem system;
    auto port = system.makeReadPort();
    HidError error;
    ASSERT_TRUE(port->open(path, error)) << error.code;
    std::array<std::uint8_t, 6> buffer{};

    // Nothing sent: the wait times out (the read stays outstanding).
    EXPECT_EQ(port->read(buffer.data(), buffer.size(), 50).status, HidReadStatus::TimedOut);
    EXPECT_FALSE(port->reportWaiting());

    // A burst of three reports gives three reads of one whole report each,
    // report ID 0 first (a device without numbered reports).
    ASSERT_EQ(standin.command("pen 1 1 271 542"), "ok sent 1");
    ASSERT_EQ(standin.command("pen 1 2 510 16320"), "ok sent 1");
    ASSERT_EQ(standin.command("report 1 00 c1 01 02 03 ff"), "ok sent 1");
    const std::array<std::array<std::uint8_t, 6>, 3> expected = {{
        {0x00, 0x41, 0x02, 0x10, 0x20, 0x00},
        {0x00, 0x82, 0x3F, 0x00, 0xFF, 0x00},  // 510 = 2 * 255 + 0, 16320 = 63 * 255 + 255
        {0x00, 0xC1, 0x01, 0x02, 0x03, 0xFF},
    }};
    for (const auto& report : expected) {
        buffer.fill(0xEE);
        const HidReadResult result = port->read(buffer.data(), buffer.size(), 2000);
        ASSERT_EQ(result.status, HidReadStatus::Report);
        EXPECT_EQ(result.bytes, 6u);
        EXPECT_EQ(buffer, report);
    }
    // A report taken and the device not asked again: the next one may be
    // there already (the release watchdog waits for the reader to look).
    EXPECT_TRUE(port->reportWaiting());
    EXPECT_EQ(port->waitForReport(50).status, HidReadStatus::TimedOut);
    EXPECT_FALSE(port->reportWaiting());

    // waitForReport leaves the report for the next read, which takes it at once.
    ASSERT_EQ(standin.command("pen 1 0 100 200"), "ok sent 1");
    ASSERT_EQ(port->waitForReport(2000).status, HidReadStatus::Report);
    EXPECT_TRUE(port->reportWaiting());
    ASSERT_EQ(port->read(buffer.data(), buffer.size(), 0).status, HidReadStatus::Report);
    EXPECT_EQ(buffer[1], 0x00);
    EXPECT_EQ(buffer[3], 100);

    // wake() from another thread ends a read that waits without limit.
    const auto started = Clock::now();
    auto waker = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        port->wake();
    });
    EXPECT_EQ(port->read(buffer.data(), buffer.size(), HidReadPort::kNoTimeout).status, HidReadStatus::Woken);
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1500));
    waker.get();
    // A wake-up before the wait ends it at once, also with a report staged.
    ASSERT_EQ(standin.command("pen 1 1 1 1"), "ok sent 1");
    ASSERT_EQ(port->waitForReport(2000).status, HidReadStatus::Report);
    port->wake();
    EXPECT_EQ(port->read(buffer.data(), buffer.size(), 2000).status, HidReadStatus::Woken);
    EXPECT_EQ(port->read(buffer.data(), buffer.size(), 2000).status, HidReadStatus::Report);
    EXPECT_EQ(buffer[3], 1);

    // Closing with a read outstanding cancels it; the port opens again.
    EXPECT_EQ(port->waitForReport(10).status, HidReadStatus::TimedOut);
    port->close();
    EXPECT_FALSE(port->isOpen());
    ASSERT_TRUE(port->open(path, error));
}

TEST(WinHidSystem, UnplugEndsReadsAsGoneAndRePlugGivesANewIdentity)
{
    BroadcastWindow window;
    StandinControl standin(worldName("plug"));
    const std::string path = pathOfPlug(standin.command(std::string("plug 4 ") + kPenIds));
    ASSERT_TRUE(window.waitForChanges(1)) << "no WM_DEVICECHANGE/DBT_DEVNODES_CHANGED reached a top-level window";
    WinHidSystem system;
    auto monitor = system.openMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->drainChanges());
    const std::vector<HidInterfaceInfo> before = system.listInterfaces();
    ASSERT_EQ(before.size(), 1u);

    auto port = system.makeReadPort();
    HidError error;
    ASSERT_TRUE(port->open(path, error));
    std::array<std::uint8_t, 6> buffer{};
    EXPECT_EQ(port->waitForReport(20).status, HidReadStatus::TimedOut);  // a read now outstanding
    ASSERT_EQ(standin.command("unplug 4"), "ok unplugged");
    EXPECT_EQ(port->read(buffer.data(), buffer.size(), 2000).status, HidReadStatus::Gone);
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->goneError().kind, HidErrorKind::DeviceGone);
    ASSERT_TRUE(window.waitForChanges(2));
    EXPECT_TRUE(system.listInterfaces().empty());
    EXPECT_FALSE(port->open(path, error));
    EXPECT_EQ(error.kind, HidErrorKind::DeviceGone);
    int code = 0;
    EXPECT_EQ(system.probeAccess(path, code), HidAccess::Missing);

    // The same port again: Windows gives the same path, the identity differs.
    ASSERT_EQ(pathOfPlug(standin.command(std::string("plug 4 ") + kPenIds)), path);
    const std::vector<HidInterfaceInfo> after = system.listInterfaces();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].path, before[0].path);
    EXPECT_NE(after[0].identity, before[0].identity);
    ASSERT_TRUE(port->open(path, error));
}

struct Reports {
    std::atomic<int> count{0};
    std::array<std::uint8_t, 8> last{};
    std::uint16_t lastSize = 0;
    void report(THidDevice&, std::uint8_t, const std::uint8_t* data, std::uint16_t size)
    {
        std::copy(data, data + std::min<std::size_t>(size, last.size()), last.begin());
        lastSize = size;
        ++count;
    }
};

TEST(WinHidSystem, ControllerReadsThePenWithoutAllocatingPerReportAndLosesItOnUnplug)
{
    StandinControl standin(worldName("controller"));
    standin.command(std::string("plug 2 ") + kForeignIds);
    standin.command(std::string("plug 1 ") + kPenIds);
    WinHidSystem system;
    TestMainThread mainThread;
    THidDeviceController controller(system, mainThread);
    controller.DeviceChange();
    ASSERT_EQ(controller.Count(), 2u);
    THidDevice* pen = nullptr;
    ASSERT_TRUE(controller.ClaimByIds(pen, 0x0020, 0x0002));
    Reports reports;
    pen->setOnReport(THidDataEvent::bind<&Reports::report>(reports));
    const auto pump = [&] { controller.runPending(); };

    // The reader has the device open once a report reaches it; reports sent
    // before that reach nobody, or a brief query handle of the controller.
    auto lastSend = Clock::now() - std::chrono::seconds(1);
    ASSERT_TRUE(mainThread.pumpUntil(pump, [&] {
        if (reports.count > 0) return true;
        if (Clock::now() - lastSend > std::chrono::milliseconds(100)) {
            standin.command("pen 1 1 271 542");
            lastSend = Clock::now();
        }
        return false;
    }));
    EXPECT_EQ(reports.lastSize, 5);
    EXPECT_EQ(reports.last[0], 0x41);

    constexpr int kReports = 200;
    const std::string burst = "pen 1 2 1000 2000 " + std::to_string(kReports);
    const int base = reports.count;
    const long allocationsBefore = allocationCount();
    ASSERT_TRUE(standin.post(burst));
    const bool delivered = mainThread.pumpUntil(
        pump, [&] { return reports.count >= base + kReports && reports.last[0] >> 6 == 2; });
    const bool sent = standin.awaitOk();
    EXPECT_EQ(allocationCount() - allocationsBefore, 0);
    ASSERT_TRUE(sent);
    ASSERT_TRUE(delivered);

    ASSERT_EQ(standin.command("unplug 1"), "ok unplugged");
    controller.DeviceChange();
    EXPECT_FALSE(pen->Present());
    controller.ReleaseDevice(pen);
    EXPECT_EQ(controller.Count(), 1u);
    EXPECT_FALSE(controller.ClaimByIds(pen, 0x0020, 0x0002));
}

// oru-record.exe (copied next to this program) records the emulated pen,
// finds it again after a re-plug and ends in order on Ctrl+C.
TEST(WinHidSystem, RecordToolPrintsTheEmulatedPensReports)
{
    StandinControl standin(worldName("record"));
    ASSERT_FALSE(pathOfPlug(standin.command(std::string("plug 1 ") + kPenIds)).empty());
    standin::ChildProcess record(L"\"" + standin::programFolder() + L"oru-record.exe\"", CREATE_NEW_CONSOLE);
    const std::string header = record.readLine();
    EXPECT_EQ(header.rfind("# oru-record ", 0), 0u) << header;
    EXPECT_NE(header.find("input report length 6"), std::string::npos) << header;

    // Reports sent before its reader has the device open reach nobody (or a
    // brief query handle): send until one is recorded.
    const auto recordsPen = [&](const std::string& pen, const std::string& bytes) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline) {
            standin.command(pen);
            std::string line;
            while (record.readLineWithin(line, 200)) {
                if (line.rfind("report ", 0) == 0 && line.size() > bytes.size() &&
                    line.compare(line.size() - bytes.size(), bytes.size(), bytes) == 0) {
                    return true;
                }
            }
        }
        return false;
    };
    EXPECT_TRUE(recordsPen("pen 1 1 271 542", " 41 02 10 20 00"));

    // Unplug and re-plug: the broadcasts reach its window, it reads the new plug.
    ASSERT_EQ(standin.command("unplug 1"), "ok unplugged");
    ASSERT_FALSE(pathOfPlug(standin.command(std::string("plug 1 ") + kPenIds)).empty());
    EXPECT_TRUE(recordsPen("pen 1 2 0 16320", " 80 3F 00 FF 00"));

    ::FreeConsole();
    const bool attached = ::AttachConsole(record.id());
    const DWORD attachError = ::GetLastError();
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    const bool generated = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    const DWORD error = ::GetLastError();
    ::FreeConsole();
    EXPECT_TRUE(attached) << attachError;
    EXPECT_TRUE(generated) << error;
    EXPECT_EQ(record.waitForExit(5000), 0);
}

} // namespace
} // namespace oru::test
