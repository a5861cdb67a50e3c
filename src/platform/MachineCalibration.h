#pragma once

#include "calibration/CalibrationTexts.h"

#include <optional>

namespace oru {

/// The calibration saved once for every account of the machine: an account
/// without its own uses it, and an administrator's command
/// (--save-for-all-users) writes it. Each system keeps it where only
/// administrators can write it: platform/linux/ in a store file below
/// $XDG_CONFIG_DIRS, platform/windows/ in HKLM\Software\oruDriver.
class MachineCalibration {
public:
    virtual ~MachineCalibration() = default;
    /// The machine's calibration, when there is one that can be trusted and
    /// passes as a completed calibration would; one line on stderr says why
    /// one that is there is not used.
    virtual std::optional<CalibrationTexts> load() const = 0;
    /// Saves the invoking user's own calibration as the machine's; says where
    /// (status 0), or why not and how to fix it (status 1).
    virtual int saveForAllUsers() const = 0;
};

} // namespace oru
