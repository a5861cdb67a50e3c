#pragma once

#include "app/MainFormState.h"
#include "calibration/CalibrationProcedure.h"
#include "display/BoardScreenFollower.h"
#include "pen/PenPipeline.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace oru {

class HidSystem;
class MainThreadWaker;
class PenTrackerAttachment;
class PointerOutput;
class THidDevice;
class THidDeviceController;

/// What the main window's logic needs of the windows around it: the toolkit's
/// side (qtui/TMainForm on Linux, winui/WinMainWindow on Windows). Every call
/// comes on the main thread.
class MainWindowShell {
public:
    virtual ~MainWindowShell() = default;

    // The calibration window.
    /// False until the calibration window exists: "Kalibre" does nothing then.
    virtual bool hasCalibrationWindow() const = 0;
    /// True while the calibration window is shown or its run is still under way.
    virtual bool calibrationUnderWay() const = 0;
    /// Brings the calibration window under way to the front.
    virtual void raiseCalibration() = 0;
    /// Shows the calibration window modally; returns once it has closed and the
    /// events its close posted have run.
    virtual void runCalibration() = 0;
    /// Asks the calibration window under way to close once its handler returns.
    virtual void closeCalibration() = 0;
    /// The next calibration opens on this screen and takes its size.
    virtual void placeCalibration(const DesktopScreen& board) = 0;
    /// The program is ending: a run still under way stops as if cancelled.
    virtual void endCalibration() = 0;

    /// The about box, modally, unless it is up already.
    virtual void showAboutBox() = 0;
    /// Leaves the event loop: the program ends.
    virtual void quit() = 0;

    // The tray.
    virtual void paintTray(TColor color, TColor fontColor) = 0;
    /// A notice from the tray, titled "oruDriver".
    virtual void showNotice(const std::string& text) = 0;
    /// Fills the "Tahta ekranı" menu: the screens, the stored choice checked.
    virtual void showBoardScreenMenu(const std::vector<DesktopScreen>& screens, const std::string& choice) = 0;

    // The release watchdog's timer.
    /// (Re)starts the timer to fire after delay, and every delay after until started again.
    virtual void startWatchdogTimer(std::chrono::milliseconds delay) = 0;
    virtual void stopWatchdogTimer() = 0;

    // The screens.
    /// The desktop's outputs as the windowing system lists them now.
    virtual std::vector<ScreenRecord> screens() const = 0;
    /// The primary screen's size in device pixels (width, height), for a start
    /// that lists no output.
    virtual std::pair<int, int> primaryScreenSizePx() const = 0;

    // The stored texts (the form storage's): Edit1..Edit8 and BoardScreen.
    virtual CalibrationTexts calibrationTexts() const = 0;
    virtual void setCalibrationTexts(const CalibrationTexts& texts) = 0;
    virtual std::string boardScreenChoice() const = 0;
    virtual void setBoardScreenChoice(const std::string& choice) = 0;
    /// Whether saving the stored texts includes Edit1..Edit8.
    virtual void saveCalibrationTexts(bool save) = 0;
    /// Saves the stored texts now; raises the store's error.
    virtual void persistTexts() = 0;
    /// The window's end: saves the stored texts unless saved since the last
    /// restore (the storage reports its errors itself).
    virtual void saveAtEnd() = 0;
    /// The desktop session's end: saves the stored texts (errors as saveAtEnd).
    virtual void saveAtSessionEnd() = 0;
    /// Where the stored texts are kept, for an administrator's line.
    virtual std::string settingsPlace() const { return "the settings store"; }

    // The end.
    /// The tray icon goes: nothing may paint it any more.
    virtual void removeTray() = 0;
    /// Stops watching the waker and the device monitor.
    virtual void unwatchDevices() = 0;
};

/// The main window's logic, free of any toolkit: the first show and the
/// calibration it chooses, the "Kalibre" run loop, following the board's
/// screen, the release watchdog, which texts are saved when, and the end.
/// The window (the shell) owns the widgets and forwards its events here.
class MainWindowController : public CalibrationHost {
public:
    using Clock = std::function<PenTime()>;
    /// The steady clock, which no clock setting moves.
    static PenTime steadyNow();

    MainWindowController(TMainFormState& state, PointerOutput& pointer, MainWindowShell& shell,
                         Clock now = &MainWindowController::steadyNow);
    ~MainWindowController() override;

    /// Opens the device layer: the pen tracker is looked for after every
    /// device change, claimed into PenDevice, its reports handled by ShowRead.
    /// The shell then watches the waker and the device monitor for it. The
    /// first scan is posted (it runs at the first runPending()).
    THidDeviceController& attachDevices(HidSystem& hid, MainThreadWaker& waker);
    /// Closes the device layer: the pen tracker's reader stops; PenDevice is gone with it.
    void detachDevices();

    /// Gives the machine's calibration for an account without its own; asked
    /// once, at the first show, and only then.
    void setMachineCalibration(std::function<std::optional<CalibrationTexts>()> load)
    {
        loadMachineCalibration_ = std::move(load);
    }

    /// The run-time state at the window's creation; starts the watchdog's timer.
    void created();
    /// The first show, after the stored texts were restored: takes the first
    /// look at the screens and maps with the chosen calibration, or starts one.
    void firstShow();
    /// "Kalibre": one calibration at a time; a run cancelled by a change of the
    /// board's screen starts again on the new one.
    void Kalibre1Click();
    /// "Hakkında".
    void Hakknda1Click();
    /// "Çıkış": the orderly end, then the event loop ends.
    void k1Click();
    /// Orderly end: a button the pen still holds is released, the watchdog stops. Once.
    void shutdown();
    /// The desktop session was locked, switched away from or disconnected: a
    /// button the pen holds goes up now. Nobody at this session lifts the pen
    /// for it, and the secure desktop takes no input until the session is back.
    void sessionLeft();
    /// The end has begun (shutdown): commands from another start are refused as "ending".
    bool ending() const { return shutDown_; }
    /// The window's end, in this order: shutdown, the texts saved while they
    /// still exist, the tray gone, the device layer closed.
    void end();
    /// The desktop session is ending: save now, the process may not get to its
    /// regular end; nobody may be at the screen any more (setEndingUnattended).
    void sessionEnding();
    /// The program ends without anyone to answer a message box: from now on
    /// the saves' errors go to stderr.
    void setEndingUnattended() { endingUnattended_ = true; }
    /// Errors of the stored texts' restore and save: a box, or at an
    /// unattended end a line on stderr.
    void reportStorageError(const std::exception& error);

    /// The watchdog's timer fired.
    void watchdogTimer();
    /// Report handler of the pen tracker (its OnReport): one input report,
    /// run on the main thread; Data is valid only during the call.
    void ShowRead(THidDevice& HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size);

    /// The desktop's outputs changed; before the first show it does nothing.
    void screensChanged(const std::vector<ScreenRecord>& outputs);
    /// A choice of "Tahta ekranı": stored at once, then followed as a change;
    /// a move to another screen starts a calibration on it.
    void chooseBoardScreen(const std::string& choice);

    /// The pen tracker was found but can't be opened.
    void tellNoAccess();

    // CalibrationHost
    void storeCalibrationTexts(const CalibrationTexts& texts) override;
    void setTrayColors(TColor color, TColor fontColor) override;
    void calibrationCompleted() override;

private:
    /// Sets the timer to fire when the pipeline's watchdog tick falls due.
    void armWatchdog(PenTime now);
    /// One look at the outputs with the stored choice; true when the board's
    /// screen changed (never at the first look).
    bool followBoardScreen(const std::vector<ScreenRecord>& outputs);
    /// What a change of the board's screen does to the warp; the action for the stderr line.
    std::string refitForBoard(const BoardScreenFollower::Update& update);

    TMainFormState& state_;
    PointerOutput& pointer_;
    MainWindowShell& shell_;
    Clock now_;
    PenPipeline pipeline_;
    HidSystem* hid_ = nullptr;
    std::unique_ptr<THidDeviceController> devices_;
    std::unique_ptr<PenTrackerAttachment> attachment_;
    std::function<std::optional<CalibrationTexts>()> loadMachineCalibration_;
    // Edit1..Edit8 hold the machine's calibration: not saved as this user's,
    // so a new machine calibration reaches this account at its next start.
    bool usesMachineCalibration_ = false;
    bool shutDown_ = false;
    bool endingUnattended_ = false;
    BoardScreenFollower boardFollower_;
    std::vector<DesktopScreen> screens_;  // the last look, mirrors collapsed
    bool shown_ = false;                  // the first show has taken its look at the screens
    bool restartCalibration_ = false;     // the running calibration was cancelled by a screen change
};

} // namespace oru
