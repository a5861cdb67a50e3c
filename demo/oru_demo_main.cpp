// oru-demo: drives the real oru-driver with an emulated pen tracker on an X
// display and checks that the X pointer follows the pen. Used by
// scripts/demo.sh, the acceptance test and scripts/endurance.sh, which give
// it an X server with a tray host and a private per-user store.

#include "DemoRun.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

/// umockdev's uevents reach only programs behind its preload, and its sender
/// checks the device in the test bed's sysfs, which this process sees only
/// behind the preload too: start again behind it.
void restartBehindPreload(char** argv)
{
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::string(preload).find("libumockdev-preload") != std::string::npos) return;
    std::vector<std::string> env = oru::harness::environmentBehindUmockdev();
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    ::execve("/proc/self/exe", argv, envp.data());
    std::perror("oru-demo: cannot restart behind libumockdev-preload");
}

const char* const kUsage =
    "usage: oru-demo --driver PATH --out DIR [--phase first|again|endurance] [--store DIR]\n"
    "                [--replug] [--recalibrate] [--end-by-signal] [--seconds S]\n"
    "                [--rate REPORTS_PER_S] [--replug-every S]\n"
    "                [--rest-limit PX] [--path-limit PX] [--calibration-shake UNITS] [--quiet]\n"
    "  first      empty store: calibrate with the pen, draw, right-click, quit through the tray menu\n"
    "  again      stored calibration: no calibration window, draw at once, quit through the tray menu\n"
    "  --recalibrate   (again) \"Kalibre\" from the tray menu, calibrate, draw again\n"
    "  --replug        unplug and re-plug the tracker between two calibration targets, and (again)\n"
    "                  in the middle of a stroke\n"
    "  --end-by-signal (again) end with SIGTERM while the pen holds the button, not the menu\n"
    "  --calibration-shake  board units the pen shakes by on a calibration target (default 2)\n"
    "  endurance  stored calibration: S seconds of reports, unplug and re-plug every few seconds,\n"
    "             reports kept in order, resident memory steady, no button held at the end\n"
    "Needs DISPLAY (an X server with a tray host) and umockdev. Exit status 0 when every check passed.\n";

int usage(const char* problem)
{
    std::fprintf(stderr, "oru-demo: %s\n%s", problem, kUsage);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    restartBehindPreload(argv);
    oru::demo::DemoOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        try {
            if (arg == "--driver") options.driverPath = value();
            else if (arg == "--out") options.outputDir = value();
            else if (arg == "--phase") options.phase = value();
            else if (arg == "--store") ::setenv("XDG_CONFIG_HOME", value().c_str(), 1);
            else if (arg == "--replug") options.replug = true;
            else if (arg == "--end-by-signal") options.endBySignal = true;
            else if (arg == "--recalibrate") options.recalibrate = true;
            else if (arg == "--quiet") options.quiet = true;
            else if (arg == "--seconds") options.enduranceSeconds = std::stod(value());
            else if (arg == "--rate") options.reportsPerSecond = std::stoi(value());
            else if (arg == "--replug-every") options.replugEverySeconds = std::stod(value());
            else if (arg == "--rest-limit") options.restLimitPx = std::stod(value());
            else if (arg == "--calibration-shake") options.calibrationShakeUnits = std::stoi(value());
            else if (arg == "--path-limit") options.pathLimitPx = std::stod(value());
            else if (arg == "--help" || arg == "-h") {
                std::fputs(kUsage, stdout);
                return 0;
            } else {
                return usage(("unknown option " + arg).c_str());
            }
        } catch (const std::exception& error) {
            return usage(error.what());
        }
    }
    if (options.driverPath.empty() || options.outputDir.empty()) return usage("--driver and --out are required");
    if (options.reportsPerSecond < 0 || options.reportsPerSecond > 5000) return usage("--rate must be 1..5000");
    if (options.phase != "first" && options.phase != "again" && options.phase != "endurance")
        return usage("--phase must be first, again or endurance");
    if (!std::getenv("DISPLAY")) return usage("DISPLAY is not set: run it on an X server (scripts/demo.sh makes one)");
    std::error_code ec;
    std::filesystem::create_directories(options.outputDir, ec);

    oru::demo::installStopHandlers();
    try {
        oru::demo::DemoRun run(options);
        return run.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "oru-demo: %s\n", error.what());
        return 2;
    }
}
