#pragma once

#include "calibration/CalibrationTexts.h"
#include "platform/MachineCalibration.h"

#include <optional>
#include <string>

namespace oru {

/// The machine's calibration, for an account that has none of its own: the
/// texts of the first oruDriver store found below $XDG_CONFIG_DIRS. A store
/// that someone besides root could have written (readMachineStoreFile), that
/// can't be read, is damaged, holds a text that isn't a decimal integer, or
/// values a completed calibration could not have left (unusableCalibration) is
/// left as it is and ignored, with one line on stderr that says how to fix it.
std::optional<CalibrationTexts> loadMachineCalibration(const char* xdgConfigDirs);

/// `oru-driver --save-for-all-users`: saves the invoking user's own calibration
/// (the user who ran sudo, read with that user's rights, else the current
/// one) as the machine's, into the first folder of $XDG_CONFIG_DIRS
/// (writeStoreFileForAll). Needs no display; runs before any thread starts.
/// Says on stdout where it was saved (status 0), or on stderr why not and how
/// to fix it (status 1).
int saveCalibrationForAllUsers();

/// The machine's calibration below the folders of xdgConfigDirs
/// ($XDG_CONFIG_DIRS, taken at the start).
class LinuxMachineCalibration final : public MachineCalibration {
public:
    explicit LinuxMachineCalibration(const char* xdgConfigDirs) : xdgConfigDirs_(xdgConfigDirs ? xdgConfigDirs : "") {}
    std::optional<CalibrationTexts> load() const override
    {
        return loadMachineCalibration(xdgConfigDirs_.empty() ? nullptr : xdgConfigDirs_.c_str());
    }
    int saveForAllUsers() const override { return saveCalibrationForAllUsers(); }

private:
    std::string xdgConfigDirs_;
};

} // namespace oru
