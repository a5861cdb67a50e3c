#include "winui/WinDriverCommands.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WinSingleInstance.h"

#include <algorithm>
#include <string>
#include <vector>

namespace oru {

namespace {

// The driver answers at once: it posts the command to itself and returns.
constexpr UINT kAnswerTimeoutMs = 5000;
// A driver's window that isn't there yet is looked for again this often.
constexpr DWORD kLookAgainMs = 100;

// The image a process runs, as Windows names it; empty when it can't be asked.
std::wstring imageOf(HANDLE process)
{
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process, 0, path.data(), &size)) return {};
    path.resize(size);
    return path;
}

std::wstring imageOf(DWORD processId)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return {};
    std::wstring image = imageOf(process);
    CloseHandle(process);
    return image;
}

// The main window of this user's driver as a second start reaches it.
class WindowDriverChannel : public DriverChannel {
public:
    WindowDriverChannel() : ownImage_(imageOf(GetCurrentProcess())) {}
    ~WindowDriverChannel() override
    {
        if (process_) CloseHandle(process_);
    }

    std::optional<std::string> unavailable() override { return std::nullopt; }

    std::optional<DriverProcess> lockHolder() override
    {
        // Only a driver holds the semaphore; which process, only its window of
        // this program's image tells.
        const HANDLE semaphore = OpenSemaphoreA(SYNCHRONIZE, FALSE, kInstanceSemaphore);
        if (!semaphore) return std::nullopt;
        CloseHandle(semaphore);
        for (const Window& window : windows()) {
            if (window.ours) return watched(window.processId);
        }
        return DriverProcess{0, "a driver that is still starting", {}};
    }

    std::optional<DriverProcess> answerer() override
    {
        const std::vector<Window> found = windows();
        const auto ours = std::find_if(found.begin(), found.end(), [](const Window& w) { return w.ours; });
        const auto chosen = ours != found.end() ? ours : found.begin();
        if (chosen == found.end()) return std::nullopt;
        target_ = chosen->handle;
        return DriverProcess{chosen->processId, describe(chosen->processId, chosen->image), {}};
    }

    std::string silentDriverAdvice(const DriverProcess&) override
    {
        return "its window did not come up. End it in the Task Manager (oru-driver.exe) and start it again";
    }

    CommandAnswer send(DriverCommand command, std::string& problem) override
    {
        COPYDATASTRUCT data{};
        data.dwData = static_cast<ULONG_PTR>(command == DriverCommand::Calibrate ? WinDriverCommand::Calibrate
                                                                                 : WinDriverCommand::Quit);
        // Windows gives the foreground only to the process the user works in
        // or one it allows: the calibration window must come up with the
        // keyboard (ESC), so this command, started by the user, allows it.
        DWORD driverProcess = 0;
        GetWindowThreadProcessId(target_, &driverProcess);
        AllowSetForegroundWindow(driverProcess);
        DWORD_PTR answer = 0;
        SetLastError(ERROR_SUCCESS);
        if (!SendMessageTimeoutW(target_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                                 kAnswerTimeoutMs, &answer)) {
            const DWORD error = GetLastError();
            if (error == ERROR_INVALID_WINDOW_HANDLE) return CommandAnswer::NoOwner;
            problem = error == ERROR_SUCCESS || error == ERROR_TIMEOUT
                          ? "no answer within " + std::to_string(kAnswerTimeoutMs / 1000) + " s"
                          : windowsErrorText(error);
            return CommandAnswer::Failed;
        }
        // FALSE: the window is past its life (its end has gone on to take it down).
        if (answer == static_cast<DWORD_PTR>(kCommandRefusedEnding) || answer == FALSE) return CommandAnswer::Ending;
        if (answer != static_cast<DWORD_PTR>(kCommandTaken)) {
            problem = "it answered " + std::to_string(answer);
            return CommandAnswer::Failed;
        }
        return CommandAnswer::Taken;
    }

    void waitForChange(const DriverProcess&, int ms) override
    {
        Sleep(std::min<DWORD>(static_cast<DWORD>(std::max(ms, 0)), kLookAgainMs));
    }

    bool waitForEnd(const DriverProcess& process, int ms) override
    {
        if (!process_ || processId_ != process.pid) {
            // Its process can't be watched: its window's end stands for it.
            const std::int64_t deadline = nowMs() + ms;
            while (IsWindow(target_)) {
                if (nowMs() >= deadline) return false;
                Sleep(kLookAgainMs);
            }
            return true;
        }
        return WaitForSingleObject(process_, static_cast<DWORD>(std::max(ms, 0))) == WAIT_OBJECT_0;
    }

    std::int64_t nowMs() override { return static_cast<std::int64_t>(GetTickCount64()); }

    void say(const std::string& line) override { diagnostic(line); }

private:
    struct Window {
        HWND handle;
        DWORD processId;
        std::wstring image;
        bool ours;  // of this program's own image
    };

    // Every top-level window of this desktop with the driver's class and caption.
    std::vector<Window> windows() const
    {
        std::vector<Window> found;
        for (HWND window = nullptr;
             (window = FindWindowExA(nullptr, window, kMainWindowClass, kMainWindowCaption)) != nullptr;) {
            DWORD processId = 0;
            GetWindowThreadProcessId(window, &processId);
            const std::wstring image = imageOf(processId);
            const bool ours = !image.empty() && !ownImage_.empty() &&
                              CompareStringOrdinal(image.c_str(), -1, ownImage_.c_str(), -1, TRUE) == CSTR_EQUAL;
            found.push_back({window, processId, image, ours});
        }
        return found;
    }

    // The driver's process, opened when first seen, so that its number can't
    // be given to another process before its end is waited for.
    DriverProcess watched(DWORD processId)
    {
        if (processId_ != processId) {
            if (process_) CloseHandle(process_);
            process_ = OpenProcess(SYNCHRONIZE, FALSE, processId);
            processId_ = processId;
        }
        return DriverProcess{processId, describe(processId, imageOf(processId)), {}};
    }

    static std::string describe(DWORD processId, const std::wstring& image)
    {
        return "process " + std::to_string(processId) + (image.empty() ? "" : " (" + narrow(image) + ")");
    }

    std::wstring ownImage_;
    HWND target_ = nullptr;
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

} // namespace

bool readDriverCommand(const COPYDATASTRUCT& data, WinDriverCommand& command)
{
    if (data.dwData != static_cast<ULONG_PTR>(WinDriverCommand::Calibrate) &&
        data.dwData != static_cast<ULONG_PTR>(WinDriverCommand::Quit)) {
        return false;
    }
    command = static_cast<WinDriverCommand>(data.dwData);
    return true;
}

int sendDriverCommand(DriverCommand command)
{
    WindowDriverChannel channel;
    return runDriverCommand(command, channel);
}

} // namespace oru
