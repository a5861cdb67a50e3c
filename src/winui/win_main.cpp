// Program entry of the Windows driver: the one place that picks the Windows backends.

#include "app/DriverProgram.h"
#include "common/CommandLine.h"
#include "common/ExtendedPrecision.h"
#include "common/HandlerErrors.h"
#include "platform/HidSystem.h"
#include "platform/RegistryStore.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinDebugOutput.h"
#include "platform/windows/WinGdi.h"
#include "platform/windows/WinHidSystem.h"
#include "platform/windows/WinMachineCalibration.h"
#include "platform/windows/WinPointerOutput.h"
#include "platform/windows/WinRegistryStore.h"
#include "platform/windows/WinSingleInstance.h"
#include "winui/WinAboutBox.h"
#include "winui/WinCalibrationWindow.h"
#include "winui/WinDriverCommands.h"
#include "winui/WinMainWindow.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace oru;

namespace {


// The command line as UTF-8 words: the Windows command line is UTF-16.
std::vector<std::string> commandLineWords()
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> words;
    for (int i = 0; i < count; ++i) words.push_back(narrow(wide[i]));
    if (wide) LocalFree(wide);
    return words;
}

// The answer of --help, --version or a usage error: on the output when the
// program has one (started from a console with its output redirected, a
// script), else in a message box, since a program without a console shows no
// text otherwise.
void tell(const std::string& out, const std::string& err)
{
    if (standardStreamAttached(STD_OUTPUT_HANDLE) || standardStreamAttached(STD_ERROR_HANDLE)) {
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        std::fflush(nullptr);
        return;
    }
    const std::string text = out + err;
    if (text.empty()) return;
    MessageBoxW(nullptr, widen(text).c_str(), L"oruDriver", MB_OK | (err.empty() ? MB_ICONINFORMATION : MB_ICONERROR));
}

void showErrorBox(const std::string& text)
{
    MessageBoxW(nullptr, widen(text).c_str(), L"oruDriver", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

} // namespace

int main()
{
    useExtendedPrecision();  // before any formula runs on this thread
    const ProgramDescription program = driverProgramDescription(
        "\"Çıkış\"); one instance per user. Messages for administrators go to the\n"
        "debugger's output (DebugView shows them).\n"
        "Exit status of --calibrate and --quit: 0 done, 3 no driver runs (--quit),\n"
        "5 the driver did not answer or did not end.",
        {}, "run as administrator");
    const std::vector<std::string> words = commandLineWords();
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    const auto parsed = parseCommandLine(static_cast<int>(words.size()), argv.data(), program, out, err);
    if (parsed.exitStatus) {
        tell(out.str(), err.str());
        return *parsed.exitStatus;
    }

    // An administrator's command: no window, no instance guard.
    if (parsed.has("--save-for-all-users")) {
        std::string line;
        const int status = saveCalibrationForAllUsersWindows(&line);
        // Without a console the line would reach nobody but a debugger.
        if (!standardStreamAttached(STD_OUTPUT_HANDLE) && !standardStreamAttached(STD_ERROR_HANDLE) && !line.empty()) {
            MessageBoxW(nullptr, widen(line).c_str(), L"oruDriver",
                        MB_OK | (status == 0 ? MB_ICONINFORMATION : MB_ICONERROR));
        }
        return status;
    }

    // A running driver: --quit and --calibrate go to it; a plain second start
    // brings it to the front and ends silently.
    if (const HWND running = findRunningDriver()) {
        if (parsed.has("--quit")) return sendDriverCommand(running, WinDriverCommand::Quit);
        if (parsed.has("--calibrate")) return sendDriverCommand(running, WinDriverCommand::Calibrate);
        SetForegroundWindow(running);
        return 0;
    }
    if (parsed.has("--quit")) {
        diagnostic("no driver runs for this user; nothing to end");
        return kCommandNoDriver;
    }

    // From here on the program has no console to answer on: what the core
    // writes to stderr goes to the debugger's output (DebugView).
    std::optional<WinDebugOutput> debugOutput;
    if (!WinDebugOutput::stderrAttached()) debugOutput.emplace();

    // Taken before any window is made, so that a second start racing this one
    // never shows a tray icon of its own.
    InstanceSemaphore instance;
    switch (instance.state()) {
    case InstanceSemaphore::State::HeldByAnother:
        // Another start is making its windows right now.
        if (parsed.has("--calibrate")) {
            diagnostic("the driver is just starting; ask again with --calibrate once its tray icon shows");
            return kCommandNoAnswer;
        }
        return 0;
    case InstanceSemaphore::State::Unavailable:
        diagnostic("the single-instance semaphore \"oruDriver\" could not be made (" +
                   windowsErrorText(instance.error()) + "); starting without the guard");
        break;
    case InstanceSemaphore::State::Acquired:
        break;
    }

    setHandlerErrorReporter(showErrorBox);
    try {
        const HINSTANCE module = GetModuleHandleW(nullptr);
        WinPointerOutput pointer;
        WinRegistryStore store;
        WinHidSystem hid;

        auto mainForm = std::make_unique<WinMainWindow>(module, WinMainWindow::Services{pointer, store, hid});
        auto calibrationForm = std::make_unique<WinCalibrationWindow>(mainForm->state, mainForm->calibrationHost());
        auto aboutBox = std::make_unique<WinAboutBox>(module);
        mainForm->setWindows(calibrationForm.get(), aboutBox.get());
        mainForm->setMachineCalibration([] { return loadMachineCalibrationWindows(); });
        if (parsed.has("--calibrate")) mainForm->calibrateSoon();

        const int status = mainForm->run();

        // Reverse order of creation: the main window goes last and saves.
        mainForm->shutdown();
        aboutBox.reset();
        calibrationForm.reset();
        mainForm.reset();
        return status;
    } catch (const std::exception& error) {
        diagnostic(error.what());
        showErrorBox(handlerErrorText(error));
        return 1;
    }
}
