#pragma once

#include <windows.h>

namespace oru {

/// What another start asks of the running driver (--calibrate, --quit).
enum class WinDriverCommand : ULONG_PTR {
    Calibrate = 0x6F727501,  // "Kalibre"
    Quit = 0x6F727502,       // "Çıkış"
};

/// The command a WM_COPYDATA to the main window carries, if it is one of ours.
bool readDriverCommand(const COPYDATASTRUCT& data, WinDriverCommand& command);

/// Exit statuses of --calibrate and --quit, as on Linux.
inline constexpr int kCommandDone = 0;
inline constexpr int kCommandNoDriver = 3;
inline constexpr int kCommandNoAnswer = 5;

/// Hands command to the driver whose main window is driver and waits for its
/// answer; with Quit also until its process has ended. Both waits are bounded.
/// kCommandDone, or kCommandNoAnswer (what went wrong said as a diagnostic).
int sendDriverCommand(HWND driver, WinDriverCommand command);

} // namespace oru
