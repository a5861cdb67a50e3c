#pragma once

#include "pen/RestartableTimer.h"

namespace oru::test {

/// Counts restarts of the release watchdog.
class CountingTimer final : public RestartableTimer {
public:
    int restarts = 0;
    void restart() override { ++restarts; }
};

} // namespace oru::test
