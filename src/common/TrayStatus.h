#pragma once

#include "common/TColor.h"

namespace oru {

/// The tray square as the driver's status display: green when the pen tracker
/// was found or a calibration completed, red without a tracker, blue after a
/// first start's calibration. The main window draws it.
class TrayStatus {
public:
    virtual ~TrayStatus() = default;
    /// Sets the square's colour, then its text's (white in every case).
    virtual void setTrayColors(TColor color, TColor fontColor) = 0;
};

} // namespace oru
