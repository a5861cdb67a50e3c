// oru-record: prints the pen tracker's input reports as oru-replay input
// ("report T B0 B1 ...") until interrupted. Linux: needs read access to the
// tracker's hidraw node (packaging/70-oru-pen-tracker.rules). Windows
// (oru-record.exe, a console program): reads through hid.dll and SetupAPI as
// the driver does; the driver must not be running, since it holds the tracker.

#include "common/CommandLine.h"
#include "device/HidDeviceController.h"
#include "tools/ReportRecorder.h"

#ifdef _WIN32
#include "platform/MainThreadWaker.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinHidSystem.h"
#include "tools/ToolFiles.h"

#include <windows.h>
#include <dbt.h>

#include <atomic>
#else
#include "platform/linux/EventFdWaker.h"
#include "platform/linux/LinuxHidSystem.h"
#include "platform/linux/QuitSignalPipe.h"
#include "platform/linux/StandardDescriptors.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>

namespace {

std::string localTimeText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[64];
#ifdef _WIN32
    // Windows' C runtime writes the zone's name for %z: the offset as on Linux.
    localtime_s(&local, &now);
    const long offsetMinutes = static_cast<long>(_mkgmtime(&local) - now) / 60;
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, " %c%02ld%02ld", offsetMinutes < 0 ? '-' : '+',
                  std::labs(offsetMinutes) / 60, std::labs(offsetMinutes) % 60);
#else
    localtime_r(&now, &local);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
#endif
    return text;
}

std::int64_t steadyMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

#ifdef _WIN32
constexpr char kNoAccessHelp[] = "(close the programs that hold it, such as the driver).";
#else
constexpr char kNoAccessHelp[] = "(install the udev rule 70-oru-pen-tracker.rules).";
#endif

#ifdef _WIN32

// The reader threads' wake-ups as an event the loop waits on.
class EventWaker final : public oru::MainThreadWaker {
public:
    EventWaker() : event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~EventWaker() override { ::CloseHandle(event_); }
    void wake() override { ::SetEvent(event_); }
    HANDLE event() const { return event_; }

private:
    HANDLE event_;
};

HANDLE quitEvent = nullptr;
std::atomic<bool> stopping{false};

// Ctrl+C, Ctrl+Break and closing the console end the recording in order; once
// the end has begun, another one ends the process at once.
BOOL WINAPI onConsoleControl(DWORD)
{
    if (stopping.load()) {
        std::cerr << "oru-record: quit again while stopping; ending at once, the last reports may be lost\n";
        ::ExitProcess(1);
    }
    ::SetEvent(quitEvent);
    return TRUE;
}

// Windows broadcasts device-node changes to top-level windows only: a hidden
// one of our own hears them for the controller.
LRESULT CALLBACK deviceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVNODES_CHANGED) {
        auto* controller = reinterpret_cast<oru::THidDeviceController*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (controller) controller->DeviceNotificationReady();
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND makeDeviceWindow(oru::THidDeviceController& controller)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = deviceWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OruRecordDevices";
    ::RegisterClassW(&windowClass);
    const HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"oru-record", WS_OVERLAPPED, 0, 0, 0, 0,
                                          nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window) ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&controller));
    return window;
}

int record()
{
    quitEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!quitEvent || !::SetConsoleCtrlHandler(onConsoleControl, TRUE)) {
        std::cerr << "oru-record: cannot watch for Ctrl+C: " << oru::windowsErrorText(::GetLastError()) << '\n';
        return 1;
    }
    oru::WinHidSystem hidSystem;
    EventWaker waker;
    oru::THidDeviceController controller(hidSystem, waker);
    oru::ReportRecorder recorder(controller, std::cout, std::cerr, steadyMicros);
    if (const int code = recorder.start(localTimeText()); code != oru::ReportRecorder::kRecorded) return code;
    const HWND window = makeDeviceWindow(controller);
    if (!window) {
        std::cerr << "oru-record: cannot make a window for device changes ("
                  << oru::windowsErrorText(::GetLastError()) << "); an unplugged tracker will not be found again.\n";
    }
    controller.Loaded();

    const HANDLE events[2] = {quitEvent, waker.event()};
    while (true) {
        const DWORD woke = ::MsgWaitForMultipleObjects(2, events, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) break;
        if (woke == WAIT_OBJECT_0 + 1) controller.runPending();
        if (woke == WAIT_FAILED) {
            std::cerr << "oru-record: waiting failed: " << oru::windowsErrorText(::GetLastError()) << '\n';
            return 1;
        }
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        if (!std::cout) {
            std::cerr << "oru-record: cannot write the output any more; stopping.\n";
            return 1;
        }
    }
    // Stopping waits for the reader; whoever asks a second time doesn't.
    stopping.store(true);
    recorder.stop();
    std::cerr << "oru-record: " << recorder.reportsWritten() << " reports recorded.\n";
    if (window) ::DestroyWindow(window);
    return 0;
}

#else

int record()
{
    // Signals arrive as readable data on a descriptor, so the loop below ends
    // in order and the last reports reach the output.
    const int quitFd = oru::installQuitSignalPipe(
        "oru-record: quit signal while stopping; ending at once, the last reports may be lost\n");
    if (quitFd < 0) {
        std::cerr << "oru-record: cannot make a pipe for quit signals: " << std::strerror(errno)
                  << " (raise the process's file limit)\n";
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);

    oru::LinuxHidSystem hidSystem;
    oru::EventFdWaker waker;
    oru::THidDeviceController controller(hidSystem, waker);
    oru::ReportRecorder recorder(controller, std::cout, std::cerr, steadyMicros);
    if (const int code = recorder.start(localTimeText()); code != oru::ReportRecorder::kRecorded) return code;
    controller.Loaded();

    while (true) {
        pollfd fds[3] = {{quitFd, POLLIN, 0},
                         {waker.fd(), POLLIN, 0},
                         {controller.DeviceNotificationFd(), POLLIN, 0}};
        const nfds_t count = fds[2].fd >= 0 ? 3 : 2;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            std::cerr << "oru-record: poll failed: " << std::strerror(errno) << '\n';
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            oru::drainQuitSignalPipe(quitFd);
            break;
        }
        if (fds[1].revents & POLLIN) {
            waker.consume();
            controller.runPending();
        }
        if (count == 3 && (fds[2].revents & POLLIN)) controller.DeviceNotificationReady();
        if (!std::cout) {
            std::cerr << "oru-record: cannot write the output any more; stopping.\n";
            return 1;
        }
    }
    // Stopping waits for the reader; whoever sends a second signal doesn't.
    oru::endAtOnceOnQuitSignal();
    recorder.stop();
    std::cerr << "oru-record: " << recorder.reportsWritten() << " reports recorded.\n";
    return 0;
}

#endif

} // namespace

int main(int argc, char** argv)
{
    // Before anything is opened: a closed 0, 1 or 2 must not become a pipe or
    // file of ours (POSIX); binary output, so lines end in "\n" (Windows).
#ifdef _WIN32
    oru::prepareStandardStreams();
#else
    oru::occupyClosedStandardDescriptors();
#endif
    const oru::ProgramDescription program{
        "oru-record", "> FILE", 0,
        std::string("Prints the pen tracker's input reports with their times, as lines of oru-replay's\n"
                    "input format, until Ctrl+C or until the tracker is unplugged.\n"
                    "Exit status: 0 after Ctrl+C, 1 without a pen tracker, 2 without access to it\n") +
            kNoAccessHelp,
        {}};
    if (const auto parsed = oru::parseCommandLine(argc, argv, program, std::cout, std::cerr); parsed.exitStatus) {
        return *parsed.exitStatus;
    }
    try {
        return record();
    } catch (const std::exception& error) {
        std::cerr << "oru-record: " << error.what() << '\n';
        return 1;
    }
}
