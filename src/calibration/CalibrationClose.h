#pragma once

#include "app/MainFormState.h"

#include <functional>

namespace oru {

/// When the calibration window closes. The run waits for the pen inside the
/// window's start handler, pumping events, so a close asked for during the
/// run (ESC, a change of the board's screen) must wait until that handler has
/// returned; one asked for before the run closes the window at once.
class CalibrationClose {
public:
    /// closeNow closes the window when it is shown, and does nothing otherwise.
    explicit CalibrationClose(std::function<void()> closeNow) : closeNow_(std::move(closeNow)) {}

    /// The window is being shown: a close asked for at an earlier show is forgotten.
    void shown() { closeRequested_ = false; }
    /// Runs the run; running() holds meanwhile. A close asked for meanwhile
    /// takes effect after it.
    void run(const std::function<void()>& run);
    /// Asks the window to close.
    void request();
    /// ESC: the run is cancelled (CalCancelled) and the window asked to close.
    void cancel(TMainFormState& state);
    bool running() const { return running_; }
    /// A close was asked for during the run under way.
    bool closeRequested() const { return closeRequested_; }

private:
    std::function<void()> closeNow_;
    bool running_ = false;
    bool closeRequested_ = false;
};

} // namespace oru
