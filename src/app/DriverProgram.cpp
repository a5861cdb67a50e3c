#include "app/DriverProgram.h"

namespace oru {

ProgramDescription driverProgramDescription(const std::string& platformSummary,
                                            std::vector<CommandLineOption> platformOptions,
                                            const std::string& adminHint)
{
    ProgramDescription program{
        "oru-driver", "", 0,
        "Drives the desktop's mouse from the Oru whiteboard's USB pen tracker: the pen is\n"
        "mapped onto the screen through a four-point calibration kept per user, the tip\n"
        "presses the left button, the side button the right. Runs as a tray icon (right\n"
        "click: \"Kalibre\", \"Tahta ekranı\" to choose the board's screen, \"Hakkında\",\n" +
            platformSummary,
        std::move(platformOptions),
        {"--calibrate", "--quit", "--save-for-all-users"}};
    program.options.push_back({"--calibrate", "", "calibrate again (\"Kalibre\"); starts a driver when none runs", {}});
    program.options.push_back({"--quit", "", "end the running driver (\"Çıkış\"): it saves and ends", {}});
    program.options.push_back({"--save-for-all-users", "",
                               "save your calibration for all accounts without one of their own (" + adminHint + ")",
                               {}});
    return program;
}

} // namespace oru
