#pragma once

// What the tests of the main window share: the window with its two others
// over fake services, waiting on Qt's event loop for what the window does,
// and its first show.

#include "qtui/Form1.h"
#include "qtui/MainForm.h"
#include "qtui/CalibrationForm.h"
#include "common/HandlerErrors.h"
#include "fakes/FakeHidSystem.h"
#include "fakes/MemoryRegistryStore.h"
#include "fakes/RecordingPointerOutput.h"
#include "platform/linux/EventFdWaker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace oru::test {

/// The main window, the calibration window and the about box over an
/// in-memory store and a HID system without a device monitor, made and
/// ended in the order of main().
template <class Pointer = RecordingPointerOutput>
struct MainWindowSet {
    MainWindowSet() { hid.monitorFd = -1; }
    void open()
    {
        main = std::make_unique<TMainForm>(TMainForm::Services{pointer, store, hid, waker});
        calibration = std::make_unique<TcalibrationForm>(main->state, *main);
        about = std::make_unique<TForm1>();
        main->setWindows(calibration.get(), about.get());
    }
    /// The windows go in the reverse order of their creation.
    void close()
    {
        about.reset();
        calibration.reset();
        main.reset();
    }

    Pointer pointer;
    MemoryRegistryStore store;
    FakeHidSystem hid;
    EventFdWaker waker;
    std::unique_ptr<TMainForm> main;
    std::unique_ptr<TcalibrationForm> calibration;
    std::unique_ptr<TForm1> about;
};

/// A test over the set, with the errors its handlers report collected.
template <class Pointer = RecordingPointerOutput>
class MainWindowTest : public ::testing::Test, protected MainWindowSet<Pointer> {
protected:
    MainWindowTest()
    {
        setHandlerErrorReporter([this](const std::string& text) { errors.push_back(text); });
    }
    ~MainWindowTest() override { setHandlerErrorReporter(nullptr); }

    std::vector<std::string> errors;
};

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
