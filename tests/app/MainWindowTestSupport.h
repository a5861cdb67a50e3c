#pragma once

// What the tests of the main window share: waiting on Qt's event loop for
// what the window does, and its first show.

#include "calibration/CalibrationForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace oru::test {

/// Runs the event loop until the condition holds; false when timeoutMs passed first.
template <class Condition>
bool pumpUntil(Condition condition, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

/// Runs the event loop until the condition holds (or fails the test).
template <class Condition>
void waitFor(Condition condition, int timeoutMs = 5000)
{
    ASSERT_TRUE(pumpUntil(condition, timeoutMs)) << "timed out";
}

/// Lets the main window's queued first show run, with the calibration it may start.
inline void runFirstShow(const TcalibrationForm& calibration)
{
    bool returned = false;
    QTimer::singleShot(0, [&] { returned = true; });
    waitFor([&] { return returned && !calibration.isVisible() && !calibration.running(); }, 15000);
}

} // namespace oru::test
