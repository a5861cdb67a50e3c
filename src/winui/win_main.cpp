// Program entry of the Windows driver: the one place that picks the Windows backends.

#include "app/DriverWindows.h"
#include "common/ExtendedPrecision.h"
#include "common/HandlerErrors.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinHidSystem.h"
#include "platform/windows/WinMachineCalibration.h"
#include "platform/windows/WinPointerOutput.h"
#include "platform/windows/WinRegistryStore.h"
#include "winui/WinAboutBox.h"
#include "winui/WinCalibrationWindow.h"
#include "winui/WinMainWindow.h"
#include "winui/WinProgram.h"

#include <sstream>

using namespace oru;

int main()
{
    useExtendedPrecision();  // before any formula runs on this thread
    const std::vector<std::string> words = commandLineWords();
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    const auto parsed =
        parseCommandLine(static_cast<int>(words.size()), argv.data(), windowsDriverProgram(), out, err);
    if (parsed.exitStatus) {
        // An answer that could not be written is no answer.
        if (!tell(out.str(), err.str()) && *parsed.exitStatus == 0) return 1;
        return *parsed.exitStatus;
    }
    std::optional<WinDebugOutput> debugOutput;
    std::optional<InstanceSemaphore> instance;
    const WinMachineCalibration machine;
    if (const auto status = answerOrStart(parsed, machine, debugOutput, instance)) return *status;

    setHandlerErrorReporter(showErrorBox);
    try {
        const HINSTANCE module = GetModuleHandleW(nullptr);
        WinPointerOutput pointer;
        WinRegistryStore store;
        WinHidSystem hid;
        DriverWindows<WinMainWindow, WinCalibrationWindow, WinAboutBox> windows(
            std::make_unique<WinMainWindow>(module, WinMainWindow::Services{pointer, store, hid}),
            std::make_unique<WinAboutBox>(module), machine);
        if (parsed.has("--calibrate")) windows.main->calibrateSoon();
        tellWhenElevated();
        const int status = windows.main->run();
        windows.end();
        return status;
    } catch (const std::exception& error) {
        diagnostic(error.what());
        showErrorBox(handlerErrorText(error));
        return 1;
    }
}
