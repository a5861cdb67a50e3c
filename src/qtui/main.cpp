// Program entry of the Linux driver: the one place that picks the backends.

#include "app/DriverWindows.h"
#include "common/ExtendedPrecision.h"
#include "platform/linux/EventFdWaker.h"
#include "platform/linux/FileRegistryStore.h"
#include "platform/linux/LinuxHidSystem.h"
#include "platform/linux/LinuxMachineCalibration.h"
#include "platform/linux/StandardDescriptors.h"
#include "platform/linux/ThreadScheduling.h"
#include "qtui/CalibrationForm.h"
#include "qtui/Form1.h"
#include "qtui/MainForm.h"
#include "qtui/OruApplication.h"
#include "qtui/QtProgram.h"

#include <cstdlib>
#include <iostream>

using namespace oru;

int main(int argc, char** argv)
{
    // Before anything is opened: a closed 0, 1 or 2 must not become a pipe or file of ours.
    occupyClosedStandardDescriptors();
    useExtendedPrecision();  // before any formula runs on this thread
    const auto parsed = parseCommandLine(argc, argv, linuxDriverProgram(), std::cout, std::cerr);
    if (parsed.exitStatus) {
        std::cout.flush();
        return *parsed.exitStatus;
    }
    std::optional<SingleInstanceLock> lock;
    int quitFd = -1;
    const LinuxMachineCalibration machine(std::getenv("XDG_CONFIG_DIRS"));
    if (const auto status = answerOrStart(argc, argv, parsed, machine, lock, quitFd)) return *status;

    // Before any other thread exists: Qt's, and the pen tracker's reader, inherit it.
    requestShortTimeSlices();
    OruApplication app(argc, argv);
    bool uinputRefused = false;
    const auto pointer = makePointerOutput(parsed.has("--pointer") ? parsed.options.at("--pointer") : "", uinputRefused);
    FileRegistryStore store(FileRegistryStore::userStoreDirectory());
    LinuxHidSystem hid;
    EventFdWaker waker;

    DriverWindows<TMainForm, TcalibrationForm, TForm1> windows(
        std::make_unique<TMainForm>(TMainForm::Services{*pointer, store, hid, waker}), std::make_unique<TForm1>(),
        machine);
    QtSession session(app, *windows.main, *lock, quitFd, parsed.has("--calibrate"), uinputRefused);
    const int status = app.exec();
    session.end();
    windows.end();
    return leaveProgram(status);
}
