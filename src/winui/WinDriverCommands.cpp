#include "winui/WinDriverCommands.h"

#include "platform/windows/WideText.h"

#include <string>

namespace oru {

namespace {

// The driver answers at once: it posts the command to itself and returns.
constexpr UINT kAnswerTimeoutMs = 5000;
// The end saves the settings and stops the pen tracker's reader: well under a second.
constexpr DWORD kEndTimeoutMs = 10000;

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

int sendDriverCommand(HWND driver, WinDriverCommand command)
{
    const bool quit = command == WinDriverCommand::Quit;
    DWORD processId = 0;
    GetWindowThreadProcessId(driver, &processId);
    // Opened before asking, so that the process can't end and its number be
    // reused between the answer and the wait.
    HANDLE process = quit ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr;

    COPYDATASTRUCT data{};
    data.dwData = static_cast<ULONG_PTR>(command);
    DWORD_PTR answer = 0;
    const bool answered =
        SendMessageTimeoutW(driver, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                            kAnswerTimeoutMs, &answer) != 0 &&
        answer == TRUE;
    if (!answered) {
        if (process) CloseHandle(process);
        diagnostic("the running driver did not answer within " + std::to_string(kAnswerTimeoutMs / 1000) +
                   " s; end it in the Task Manager (oru-driver.exe) and start it again");
        return kCommandNoAnswer;
    }
    if (!quit) return kCommandDone;
    if (!process) {
        diagnostic("the driver was asked to end, but its process can't be watched (" +
                   windowsErrorText(GetLastError()) + ")");
        return kCommandNoAnswer;
    }
    const DWORD waited = WaitForSingleObject(process, kEndTimeoutMs);
    CloseHandle(process);
    if (waited != WAIT_OBJECT_0) {
        diagnostic("the driver was asked to end but still runs after " + std::to_string(kEndTimeoutMs / 1000) +
                   " s; end it in the Task Manager (oru-driver.exe)");
        return kCommandNoAnswer;
    }
    return kCommandDone;
}

} // namespace oru
