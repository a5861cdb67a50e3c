#include "winui/WinProgram.h"

#include "app/DriverProgram.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinGdi.h"
#include "platform/windows/WinMachineCalibration.h"
#include "winui/WinDriverCommands.h"

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace oru {

ProgramDescription windowsDriverProgram()
{
    return driverProgramDescription(
        "\"Çıkış\"); one instance per user. Messages for administrators go to the\n"
        "debugger's output (DebugView shows them).\n"
        "Exit status of --calibrate and --quit: 0 done, 3 no driver runs (--quit),\n"
        "5 the driver did not answer or did not end.",
        {}, "run as administrator");
}

std::vector<std::string> commandLineWords()
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> words;
    for (int i = 0; i < count; ++i) words.push_back(narrow(wide[i]));
    if (wide) LocalFree(wide);
    return words;
}

bool tell(const std::string& out, const std::string& err)
{
    if (standardStreamAttached(STD_OUTPUT_HANDLE) || standardStreamAttached(STD_ERROR_HANDLE)) {
        errno = 0;
        const bool written = (out.empty() || std::fputs(out.c_str(), stdout) >= 0) && std::fflush(stdout) == 0;
        const int error = errno;
        std::fputs(err.c_str(), stderr);
        if (!written) {
            std::fprintf(stderr, "oru-driver: cannot write the answer to standard output: %s\n",
                         error ? std::strerror(error) : "the stream is closed");
        }
        std::fflush(stderr);
        return written;
    }
    const std::string text = out + err;
    if (!text.empty()) {
        MessageBoxW(nullptr, widen(text).c_str(), L"oruDriver",
                    MB_OK | (err.empty() ? MB_ICONINFORMATION : MB_ICONERROR));
    }
    return true;
}

void showErrorBox(const std::string& text)
{
    MessageBoxW(nullptr, widen(text).c_str(), L"oruDriver", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

std::optional<int> answerOrStart(const ParsedCommandLine& parsed, const MachineCalibration& machine,
                                 std::optional<WinDebugOutput>& debugOutput,
                                 std::optional<InstanceSemaphore>& instanceGuard)
{
    // An administrator's command: no window, no instance guard.
    if (parsed.has("--save-for-all-users")) return machine.saveForAllUsers();

    // --quit and --calibrate go to the running driver; --calibrate starts one
    // that calibrates when none runs. A plain second start brings the running
    // driver's window to the front and ends silently.
    const bool calibrate = parsed.has("--calibrate");
    if (parsed.has("--quit") || calibrate) {
        const int status = sendDriverCommand(calibrate ? DriverCommand::Calibrate : DriverCommand::Quit);
        if (status != kStartCalibratingDriver) return status;
    } else if (const HWND running = findRunningDriver()) {
        SetForegroundWindow(running);
        return 0;
    }

    // From here on the program has no console to answer on: what the core
    // writes to stderr goes to the debugger's output (DebugView).
    if (!WinDebugOutput::stderrAttached()) debugOutput.emplace();

    // Taken before any window is made, so that a second start racing this one
    // never shows a tray icon of its own.
    InstanceSemaphore& instance = instanceGuard.emplace();
    switch (instance.state()) {
    case InstanceSemaphore::State::HeldByAnother:
        // Another start is making its windows right now.
        if (calibrate) {
            diagnostic("the driver is just starting; ask again with --calibrate once its tray icon shows");
            return kExitNoAnswer;
        }
        return 0;
    case InstanceSemaphore::State::Unavailable:
        // Another object of that name (a mutex, an event) would let a second
        // driver run beside this one: no start without the guard.
        diagnostic("the single-instance semaphore \"oruDriver\" could not be made (" +
                   windowsErrorText(instance.error()) +
                   "); another program may use that name. Not starting, since a second driver could run beside "
                   "this one; end that program or sign out and in again");
        showErrorBox("oruDriver başlatılamadı: başka bir program \"oruDriver\" adını kullanıyor, bu yüzden "
                     "sürücünün tek kopya çalışması sağlanamıyor. O programı kapatın ya da oturumu kapatıp yeniden "
                     "açın, sonra sürücüyü yeniden başlatın.");
        return 1;
    case InstanceSemaphore::State::Acquired:
        break;
    }
    return std::nullopt;
}

void tellWhenElevated()
{
    if (runsElevated()) {
        // Started with an administrator's token (a setup's "start now", "Run as administrator"):
        // the user's commands and Explorer's messages can't reach it, and its settings are the
        // administrator's.
        // A line, not a balloon: an administrator who runs it so on purpose (and wine, which runs
        // everything elevated) is not to be nagged at every start.
        diagnostic("the driver runs with administrator rights; it should run as the signed-in user: the "
                   "Start menu's \"Kalibre\" and \"Çıkış\" can't reach it and its calibration is saved for "
                   "the administrator. End it and start it from the Start menu");
    }
}

} // namespace oru
