#pragma once

#include "app/EditField.h"
#include "app/MainFormState.h"
#include "calibration/CalibrationProcedure.h"
#include "display/BoardScreenFollower.h"
#include "pen/PenPipeline.h"
#include "settings/AppRegistryStorage.h"
#include "settings/FormStorage.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QSocketNotifier;

namespace oru {

class HidSystem;
class MainThreadWaker;
class THidDevice;
class PenTrackerAttachment;
class PointerOutput;
class RegistryStore;
class ScreenWatcher;
class THidDeviceController;
class TTextTrayIcon;
class TcalibrationForm;
class TForm1;

/// The main window. Never mapped on screen: it owns the tray icon and its
/// menu, the release watchdog, the eight stored calibration texts and all
/// run-time state of the driver.
class TMainForm : public QWidget, public CalibrationHost {
    Q_OBJECT

public:
    /// The system services the window works with, chosen by the program entry.
    struct Services {
        PointerOutput& pointer;   // where the pen's mouse goes
        RegistryStore& store;     // the per-user settings store
        HidSystem& hid;           // HID devices: the pen tracker
        MainThreadWaker& waker;   // wakes this thread for the device readers' reports
    };
    explicit TMainForm(const Services& services, QWidget* parent = nullptr);
    ~TMainForm() override;

    /// The other two windows, created after this one.
    void setWindows(TcalibrationForm* calibrationForm, TForm1* aboutBox);

    TMainFormState state;
    std::array<TEdit*, 8> Edits{};  // Edit1..Edit8
    TTextTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Kalibre1 = nullptr;
    QMenu* TahtaEkrani1 = nullptr;  // "Tahta ekranı": which screen is the board's
    TEdit* BoardScreen = nullptr;   // the stored choice: an output name, "" for the primary
    QAction* Hakknda1 = nullptr;
    QAction* N1 = nullptr;
    QAction* k1 = nullptr;
    QTimer gerisayim;
    TAppRegistryStorage AppRegistryStorage1;
    TFormStorage FormStorage1;
    std::unique_ptr<THidDeviceController> HidDeviceController;

    void FormCreate();
    /// The one show of the window: restore stored texts, then FormShow.
    void firstShow();
    void FormShow();
    void FormDestroy();
    /// The desktop session is ending: save now, the process may not get to
    /// its regular end. Nobody may be at the screen any more: see
    /// setEndingUnattended.
    void sessionEnding();
    /// The program ends without anyone to answer a message box (a quit signal,
    /// the session's end): from now on the saves' errors go to stderr, so the
    /// end is never held up.
    void setEndingUnattended() { endingUnattended_ = true; }
    void Kalibre1Click();
    void Hakknda1Click();
    void k1Click();
    /// The release watchdog, on every tick of gerisayim.
    void gerisayimTimer();
    /// Report handler of the pen tracker (its OnReport): one input report,
    /// run on the main thread; Data is valid only during the call.
    void ShowRead(THidDevice& HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size);

    /// Orderly end: a button the pen still holds is released first.
    void shutdown();

    /// Texts of Edit1..Edit8.
    CalibrationTexts calibrationTexts() const;

    /// Gives the machine's calibration for an account without its own; asked
    /// once, at the first show, and only then.
    void setMachineCalibration(std::function<std::optional<CalibrationTexts>()> load)
    {
        loadMachineCalibration_ = std::move(load);
    }

    /// The desktop's outputs changed: follow the board's screen (release a
    /// held button, refit or restart a running calibration, move the pointer's
    /// origin, one line on stderr). Called by the screen watcher once per
    /// burst of Qt's screen signals; before the first show it does nothing.
    void screensChanged(const std::vector<ScreenRecord>& outputs);
    /// A choice of the tray's "Tahta ekranı": an output name, or "" for
    /// whichever screen is primary. Stored at once, then followed as a change;
    /// when the board moved to another screen, the stored calibration was made
    /// on a picture that is no longer the board, so a calibration starts on it.
    void chooseBoardScreen(const std::string& choice);
    /// Where the outputs are read from (tests list their own).
    void setScreenSource(std::function<std::vector<ScreenRecord>()> source) { screenSource_ = std::move(source); }

    // CalibrationHost, and the tray square for the pen tracker attachment
    void storeCalibrationTexts(const CalibrationTexts& texts) override;
    void setTrayColors(TColor color, TColor fontColor) override;
    void calibrationCompleted() override;


private:
    /// Sets gerisayim to fire when the pipeline's watchdog tick falls due.
    void armWatchdog(PenTime now);
    void buildMenu();
    void createDeviceController(const Services& services);
    void tellNoAccess();
    /// Errors of the form storage's restore and save.
    void reportStorageError(const std::exception& error);
    /// One look at the outputs with the stored choice; the first one (at the
    /// first show) only places the pointer and the calibration window.
    /// True when the board's screen changed.
    bool followBoardScreen(const std::vector<ScreenRecord>& outputs);
    /// What a change of the board's screen does to the warp; the action for the stderr line.
    std::string refitForBoard(const BoardScreenFollower::Update& update);
    void rebuildBoardScreenMenu();
    /// Whether the form storage saves Edit1..Edit8.
    void saveCalibrationTexts(bool save);

    PenPipeline pipeline_;
    MainThreadWaker& waker_;
    std::unique_ptr<PenTrackerAttachment> attachment_;
    QSocketNotifier* deviceNotifier_ = nullptr;
    QSocketNotifier* wakeNotifier_ = nullptr;
    TcalibrationForm* calibrationForm_ = nullptr;
    TForm1* aboutBox_ = nullptr;
    bool shutDown_ = false;
    bool endingUnattended_ = false;
    std::function<std::optional<CalibrationTexts>()> loadMachineCalibration_;
    // Edit1..Edit8 hold the machine's calibration: not saved as this user's,
    // so a new machine calibration reaches this account at its next start.
    bool usesMachineCalibration_ = false;
    PointerOutput& pointer_;
    std::function<std::vector<ScreenRecord>()> screenSource_;
    ScreenWatcher* screenWatcher_ = nullptr;
    BoardScreenFollower boardFollower_;
    std::vector<DesktopScreen> screens_;  // the last look, mirrors collapsed
    bool shown_ = false;                  // the first show has taken its look at the screens
    bool restartCalibration_ = false;     // the running calibration was cancelled by a screen change
};

} // namespace oru
