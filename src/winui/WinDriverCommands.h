#pragma once

#include "app/DriverCommands.h"

#include <windows.h>

namespace oru {

/// What another start asks of the running driver (--calibrate, --quit), as a WM_COPYDATA's dwData.
enum class WinDriverCommand : ULONG_PTR {
    Calibrate = 0x6F727501,  // "Kalibre"
    Quit = 0x6F727502,       // "Çıkış"
};

/// The main window's answers to a WM_COPYDATA of ours: taken, or the driver is ending.
inline constexpr LRESULT kCommandTaken = TRUE;
inline constexpr LRESULT kCommandRefusedEnding = 2;

/// The command a WM_COPYDATA to the main window carries, if it is one of ours.
bool readDriverCommand(const COPYDATASTRUCT& data, WinDriverCommand& command);

/// Hands command to the driver of this user (runDriverCommand): the process
/// that holds the semaphore "oruDriver" and whose main window ("TMainForm",
/// "oru USB Driver") is of this program's own image; a window of another
/// program with that class and caption is never believed. Returns the exit
/// status or kStartCalibratingDriver.
int sendDriverCommand(DriverCommand command);

} // namespace oru
