#pragma once

namespace oru {

/// A periodic timer whose owner supplies the clock: the program uses a Qt
/// timer, the replay tool a virtual clock driven by recorded times.
class RestartableTimer {
public:
    virtual ~RestartableTimer() = default;
    /// Stops and starts the timer: the next tick comes one full interval from now.
    virtual void restart() = 0;
};

} // namespace oru
