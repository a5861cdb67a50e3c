#pragma once

#include "common/TColor.h"

namespace oru {

/// What the tray square tells the user.
enum class TrayState {
    NoTracker,          ///< no pen tracker: red
    Ready,              ///< the tracker was found, or a calibration completed: green
    CalibrationNeeded,  ///< a first start's calibration was left: blue
};

struct TrayColors {
    TColor color;
    TColor fontColor;
};

/// The one rule from state to colours: the text is white on every square.
constexpr TrayColors trayColors(TrayState state)
{
    switch (state) {
    case TrayState::NoTracker: return {clRed, clWhite};
    case TrayState::Ready: return {clGreen, clWhite};
    case TrayState::CalibrationNeeded: return {clBlue, clWhite};
    }
    return {clRed, clWhite};
}

/// The tray square as the driver's status display. The main window draws it.
class TrayStatus {
public:
    virtual ~TrayStatus() = default;
    /// Sets the square's colour, then its text's.
    virtual void setTrayColors(TColor color, TColor fontColor) = 0;
    void showTrayState(TrayState state)
    {
        const TrayColors colors = trayColors(state);
        setTrayColors(colors.color, colors.fontColor);
    }
};

} // namespace oru
