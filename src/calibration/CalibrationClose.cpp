#include "calibration/CalibrationClose.h"

namespace oru {

void CalibrationClose::run(const std::function<void()>& run)
{
    running_ = true;
    try {
        run();
    } catch (...) {
        running_ = false;
        throw;
    }
    running_ = false;
    if (closeRequested_) {
        closeRequested_ = false;
        closeNow_();
    }
}

void CalibrationClose::request()
{
    if (running_) closeRequested_ = true;
    else closeNow_();
}

void CalibrationClose::cancel(TMainFormState& state)
{
    state.CalCancelled = 1;
    request();
}

} // namespace oru
