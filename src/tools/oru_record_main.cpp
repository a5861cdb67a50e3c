// oru-record: prints the pen tracker's input reports as oru-replay input
// ("report T B0 B1 ...") until interrupted. Needs read access to the
// tracker's hidraw node (packaging/70-oru-pen-tracker.rules).

#include "common/CommandLine.h"
#include "device/HidDeviceController.h"
#include "platform/linux/EventFdWaker.h"
#include "platform/linux/LinuxHidSystem.h"
#include "platform/linux/QuitSignalPipe.h"
#include "platform/linux/StandardDescriptors.h"
#include "tools/ReportRecorder.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>
#include <poll.h>

namespace {

std::string localTimeText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
    return text;
}

std::int64_t steadyMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything is opened: a closed 0, 1 or 2 must not become a pipe or file of ours.
    oru::occupyClosedStandardDescriptors();
    const oru::ProgramDescription program{
        "oru-record", "> FILE", 0,
        "Prints the pen tracker's input reports with their times, as lines of oru-replay's\n"
        "input format, until Ctrl+C or until the tracker is unplugged.\n"
        "Exit status: 0 after Ctrl+C, 1 without a pen tracker, 2 without access to it\n"
        "(install the udev rule 70-oru-pen-tracker.rules).",
        {}};
    if (const auto parsed = oru::parseCommandLine(argc, argv, program, std::cout, std::cerr); parsed.exitStatus) {
        return *parsed.exitStatus;
    }

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

    try {
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
    } catch (const std::exception& error) {
        std::cerr << "oru-record: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
