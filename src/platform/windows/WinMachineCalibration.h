#pragma once

#include "calibration/CalibrationTexts.h"
#include "platform/MachineCalibration.h"

#include <windows.h>

#include <optional>
#include <string>

namespace oru {

/// A registry key: root, path below it, and the root's name for messages.
struct RegistryPlace {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::string keyPath;
    std::string rootName;

    std::string shown() const { return rootName + "\\" + keyPath; }
};

/// HKEY_LOCAL_MACHINE\Software\oruDriver: the machine's calibration, readable
/// by every account, written only by administrators.
RegistryPlace machineCalibrationPlace();
/// HKEY_CURRENT_USER\Software\oruDriver: this account's own settings.
RegistryPlace ownSettingsPlace();

/// Why every account may not trust the opened key: an owner, or a write right
/// in its access list, beyond SYSTEM, Administrators, TrustedInstaller and the
/// reading account itself (whom a key of its own can only fool itself). Nothing
/// when it may. English, for an administrator's line.
std::optional<std::string> untrustedKeyProblem(HKEY key);

/// The machine's calibration for an account with none of its own (the
/// controller's setMachineCalibration): the texts in place, used only when the
/// key can be trusted (untrustedKeyProblem) and they pass as a completed
/// calibration would (servingCalibrationIn). A missing key is silently
/// nothing; any other refusal leaves the key as it is and writes one line to
/// stderr and the debugger's output that says how to fix it.
std::optional<CalibrationTexts> loadMachineCalibrationWindows(const RegistryPlace& place = machineCalibrationPlace());

/// `oru-driver.exe --save-for-all-users`: copies this account's own
/// calibration (Edit1_Text ... Edit8_Text) from own to machine, whose access
/// list is set to: SYSTEM and Administrators full control, Users read. Needs an
/// elevated process (an administrator prompt). Says on stdout where it was
/// saved (status 0), or on stderr why not and how to fix it (status 1).
/// Needs no window; runs before any thread starts. message, when given,
/// receives that line too (without "oruDriver: "), for a message box when the
/// program has no console.
int saveCalibrationForAllUsersWindows(std::string* message = nullptr);
/// The same between any two places; elevated says whether this process runs
/// with administrator rights (tests name it).
int saveCalibrationForAllUsersWindows(const RegistryPlace& own, const RegistryPlace& machine, bool elevated,
                                      std::string* message = nullptr);

/// The machine's calibration in HKEY_LOCAL_MACHINE\Software\oruDriver. Its
/// save's line shows in a message box when the program has no console.
class WinMachineCalibration final : public MachineCalibration {
public:
    std::optional<CalibrationTexts> load() const override { return loadMachineCalibrationWindows(); }
    int saveForAllUsers() const override;
};

/// Whether this process runs elevated (an administrator prompt, or an
/// administrator account without User Account Control).
bool runsElevated();

} // namespace oru
